#include "testsupport/storedlines.h"

#include "testsupport/testdatabase.h"

namespace fis::test {

QList<StoredLine> storedLines(const TestDatabase &db, const QString &fileNumber)
{
    QList<StoredLine> lines;
    for (const QVariantList &block :
         db.rows(QStringLiteral("SELECT NRORDREGARQ, NRLINHAS, SQUENCIAL, DSREGARQMAG FROM"
                                " BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ? ORDER BY NRORDREGARQ"),
                 {fileNumber})) {
        const QString text = block[3].toString();
        for (qint64 i = 0; i < block[1].toLongLong(); ++i)
            lines.append({block[0].toLongLong() + i,
                          text.mid(i * kStoredLineLength, kStoredLineLength),
                          block[2].toLongLong() + i});
    }
    return lines;
}

qint64 storedLineCount(const TestDatabase &db, const QString &fileNumber)
{
    return db
        .value(QStringLiteral("SELECT coalesce(sum(NRLINHAS), 0) FROM BLOCOARQCOMPRALEG"
                              " WHERE NRSEQARQMAG = ?"),
               {fileNumber})
        .toLongLong();
}

qint64 storedLineCountOfList(const TestDatabase &db, const QString &list)
{
    return db
        .value(QStringLiteral("SELECT coalesce(sum(NRLINHAS), 0) FROM BLOCOARQCOMPRALEG"
                              " WHERE NRLISTA = ?"),
               {list})
        .toLongLong();
}

qint64 storedLineCount(const TestDatabase &db)
{
    return db.value(QStringLiteral("SELECT coalesce(sum(NRLINHAS), 0) FROM BLOCOARQCOMPRALEG"))
        .toLongLong();
}

QStringList toLineRowsStatements()
{
    return {
        QStringLiteral("CREATE TABLE REGARQCOMPRALEG ("
                       "    NRSEQARQMAG      VARCHAR(10)   NOT NULL,"
                       "    NRORDREGARQ      NUMERIC(10)   NOT NULL,"
                       "    NRLISTA          VARCHAR(10)   NOT NULL,"
                       "    DSREGARQMAG      VARCHAR(4000) NOT NULL,"
                       "    SQUENCIAL        NUMERIC(10)   NOT NULL,"
                       "    CONSTRAINT PK_REGARQCOMPRALEG PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ),"
                       "    CONSTRAINT FK_REGARQCOMPRALEG_ARQ FOREIGN KEY (NRSEQARQMAG)"
                       "        REFERENCES ARQCOMPRALEG (NRSEQARQMAG)"
                       ") WITHOUT ROWID"),
        QStringLiteral("INSERT INTO REGARQCOMPRALEG (NRSEQARQMAG, NRORDREGARQ, NRLISTA,"
                       " DSREGARQMAG, SQUENCIAL)"
                       " WITH RECURSIVE L (F, N, LST, S, T, I, C) AS ("
                       "  SELECT NRSEQARQMAG, NRORDREGARQ, NRLISTA, SQUENCIAL, DSREGARQMAG, 0,"
                       "   NRLINHAS FROM BLOCOARQCOMPRALEG"
                       "  UNION ALL SELECT F, N, LST, S, T, I + 1, C FROM L WHERE I + 1 < C)"
                       " SELECT F, N + I, LST, substr(T, I * 126 + 1, 126), S + I FROM L"),
        QStringLiteral("DROP TABLE BLOCOARQCOMPRALEG"),
    };
}

} // namespace fis::test

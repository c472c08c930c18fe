#include "testsupport/storedlines.h"

#include "sqldb/sqldatabase.h"
#include "testsupport/testdatabase.h"

#include <lz4.h>

#include <tuple>
#include <vector>

namespace fis::test {

namespace {

// A block's lines: its text, or its bytes unpacked and read as the text column would be.
QString blockText(const QVariant &stored, qint64 lines)
{
    if (stored.typeId() != QMetaType::QByteArray)
        return stored.toString();
    return QString::fromUtf8(unpackedBlock(stored.toByteArray(), lines));
}

} // namespace

QByteArray unpackedBlock(QByteArrayView packed, qint64 lines)
{
    QByteArray text(lines * kStoredLineLength, Qt::Uninitialized);
    const int size =
        LZ4_decompress_safe(packed.data(), text.data(), int(packed.size()), int(text.size()));
    if (size != text.size())
        qFatal("a stored block of %lld lines unpacked into %d bytes", lines, size);
    return text;
}

QList<StoredLine> storedLines(const TestDatabase &db, const QString &fileNumber)
{
    QList<StoredLine> lines;
    for (const QVariantList &block :
         db.rows(QStringLiteral("SELECT NRORDREGARQ, NRLINHAS, SQUENCIAL, DSREGARQMAG FROM"
                                " BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ? ORDER BY NRORDREGARQ"),
                 {fileNumber})) {
        const QString text = blockText(block[3], block[1].toLongLong());
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

void toLineRows(SqlConnection &db)
{
    // The earlier servers kept every block as text.
    std::vector<std::tuple<QByteArray, qint64, QByteArray>> packed;
    SqlStatement blocks(db, "SELECT NRSEQARQMAG, NRORDREGARQ, NRLINHAS, DSREGARQMAG"
                            " FROM BLOCOARQCOMPRALEG");
    while (blocks.step())
        if (blocks.holdsBytes(3))
            packed.emplace_back(blocks.utf8(0).toByteArray(), blocks.integer(1),
                                unpackedBlock(blocks.bytes(3), blocks.integer(2)));
    SqlStatement asText(db, "UPDATE BLOCOARQCOMPRALEG SET DSREGARQMAG = ?3"
                            " WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ = ?2");
    for (const auto &[file, first, text] : packed) {
        asText.bindUtf8(1, file);
        asText.bind(2, first);
        asText.bindUtf8(3, text);
        asText.execute();
    }
    const QStringList statements = {
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
    for (const QString &statement : statements)
        db.exec(statement.toUtf8().constData());
}

} // namespace fis::test

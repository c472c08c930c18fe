#include "server/schemamigration.h"

#include "server/sqliteconnection.h"

namespace fis {

namespace {

bool hasColumn(SqliteConnection &db, const char *table, const char *column)
{
    SqliteStatement info(db, "SELECT 1 FROM pragma_table_info(?) WHERE upper(name) = upper(?)");
    info.bind(1, QString::fromLatin1(table));
    info.bind(2, QString::fromLatin1(column));
    return info.step();
}

QString tableSql(SqliteConnection &db, const char *table)
{
    SqliteStatement sql(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
    sql.bind(1, QString::fromLatin1(table));
    if (!sql.step())
        throw DatabaseError(QStringLiteral("the database has no table %1; is it a Compra LEGAL "
                                           "host database?")
                                .arg(QLatin1String(table)));
    return sql.text(0);
}

} // namespace

void migrateServerSchema(SqliteConnection &db)
{
    SqliteTransaction tx(db, SqliteTransaction::Kind::Write);
    for (const char *table : {"NFCOMPRA", "ARQCOMPRALEG", "SEQCOMPRALEG", "LISTACOMPRALEGNF"})
        tableSql(db, table);

    if (!hasColumn(db, "LISTACOMPRALEG", "NRSEQARQULT"))
        db.exec("ALTER TABLE LISTACOMPRALEG ADD COLUMN NRSEQARQULT VARCHAR(10)");
    if (!hasColumn(db, "LISTACOMPRALEGNF", "IDNFCOMPRALEGANT"))
        db.exec("ALTER TABLE LISTACOMPRALEGNF ADD COLUMN IDNFCOMPRALEGANT CHAR(1)");

    if (!tableSql(db, "REGARQCOMPRALEG")
             .contains(QLatin1String("WITHOUT ROWID"), Qt::CaseInsensitive)) {
        db.exec("CREATE TABLE REGARQCOMPRALEG_NOVA ("
                "    NRSEQARQMAG      VARCHAR(10)   NOT NULL,"
                "    NRORDREGARQ      NUMERIC(10)   NOT NULL,"
                "    NRLISTA          VARCHAR(10)   NOT NULL,"
                "    DSREGARQMAG      VARCHAR(4000) NOT NULL,"
                "    SQUENCIAL        NUMERIC(10)   NOT NULL,"
                "    CONSTRAINT PK_REGARQCOMPRALEG PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ),"
                "    CONSTRAINT FK_REGARQCOMPRALEG_ARQ FOREIGN KEY (NRSEQARQMAG)"
                "        REFERENCES ARQCOMPRALEG (NRSEQARQMAG)"
                ") WITHOUT ROWID;"
                "INSERT INTO REGARQCOMPRALEG_NOVA SELECT NRSEQARQMAG, NRORDREGARQ, NRLISTA, "
                "    DSREGARQMAG, SQUENCIAL FROM REGARQCOMPRALEG;"
                "DROP TABLE REGARQCOMPRALEG;"
                "ALTER TABLE REGARQCOMPRALEG_NOVA RENAME TO REGARQCOMPRALEG;");
    }
    // The number generators may be missing from a database made by other means.
    db.exec(
        "INSERT OR IGNORE INTO SEQCOMPRALEG (NMSEQUENCIA, NRULTIMO) VALUES ('NRLISTA', 0);"
        "INSERT OR IGNORE INTO SEQCOMPRALEG (NMSEQUENCIA, NRULTIMO) VALUES ('NRSEQARQMAG', 0);");
    tx.commit();
}

} // namespace fis

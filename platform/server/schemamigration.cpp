#include "server/schemamigration.h"

#include "server/exportlists.h"
#include "sqldb/sqliteconnection.h"

#include <QStringList>

namespace fis {

namespace {

bool hasColumn(SqliteConnection &db, const char *table, const char *column)
{
    SqlStatement info(db, "SELECT 1 FROM pragma_table_info(?) WHERE upper(name) = upper(?)");
    info.bind(1, QString::fromLatin1(table));
    info.bind(2, QString::fromLatin1(column));
    return info.step();
}

bool hasIndex(SqliteConnection &db, const char *index)
{
    SqlStatement q(db, "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?");
    q.bind(1, QString::fromLatin1(index));
    return q.step();
}

bool hasTable(SqliteConnection &db, const char *table)
{
    SqlStatement q(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    q.bind(1, QString::fromLatin1(table));
    return q.step();
}

QStringList column(SqliteConnection &db, const char *sql)
{
    SqlStatement q(db, sql);
    QStringList values;
    while (q.step())
        values << q.text(0);
    return values;
}

// Lists from before lists had owners: nobody can go on with them. Those whose files were all
// served were delivered and become final; the others are undone, but for the served files the
// client went on from (every one but the file asked for last).
void settleOwnerlessLists(SqliteConnection &db)
{
    if (hasColumn(db, "LISTACOMPRALEG", "NRSEQARQULT"))
        db.exec("UPDATE ARQCOMPRALEG SET IDSERVIDO = 'E' WHERE IDSERVIDO = 'S' AND NRSEQARQMAG"
                " <> coalesce((SELECT L.NRSEQARQULT FROM LISTACOMPRALEG L"
                " WHERE L.NRLISTA = ARQCOMPRALEG.NRLISTA), '')");
    const QStringList delivered =
        column(db, "SELECT NRLISTA FROM LISTACOMPRALEG L WHERE CDSESSAO IS NULL"
                   " AND IDSITUACAO = 'A' AND EXISTS (SELECT 1 FROM ARQCOMPRALEG A"
                   " WHERE A.NRLISTA = L.NRLISTA) AND NOT EXISTS (SELECT 1 FROM ARQCOMPRALEG A"
                   " WHERE A.NRLISTA = L.NRLISTA AND A.IDSERVIDO = 'N')");
    for (const QString &list : delivered)
        exportlists::finalize(db, list);
    const QStringList open = column(db, "SELECT NRLISTA FROM LISTACOMPRALEG WHERE CDSESSAO IS NULL"
                                        " AND IDSITUACAO = 'A'");
    for (const QString &list : open)
        exportlists::revert(db, list);
}

QString tableSql(SqliteConnection &db, const char *table)
{
    SqlStatement sql(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
    sql.bind(1, QString::fromLatin1(table));
    if (!sql.step())
        throw DatabaseError(QStringLiteral("O banco de dados não tem a tabela %1; é mesmo um banco "
                                           "de dados do host com o Compra LEGAL?")
                                .arg(QLatin1String(table)));
    return sql.text(0);
}

} // namespace

void migrateServerSchema(SqliteConnection &db)
{
    SqlTransaction tx(db, SqlTransaction::Kind::Write);
    for (const char *table : {"NFCOMPRA", "ARQCOMPRALEG", "SEQCOMPRALEG", "LISTACOMPRALEGNF"})
        tableSql(db, table);

    if (!hasColumn(db, "LISTACOMPRALEGNF", "IDNFCOMPRALEGANT"))
        db.exec("ALTER TABLE LISTACOMPRALEGNF ADD COLUMN IDNFCOMPRALEGANT CHAR(1)");
    if (!hasColumn(db, "LISTACOMPRALEG", "CDSESSAO")) {
        db.exec("ALTER TABLE LISTACOMPRALEG ADD COLUMN CDSESSAO VARCHAR(64);"
                "ALTER TABLE LISTACOMPRALEG ADD COLUMN IDSITUACAO CHAR(1) DEFAULT 'A' NOT NULL;"
                "ALTER TABLE LISTACOMPRALEG ADD COLUMN DTATIVIDADE NUMERIC(15);"
                "ALTER TABLE LISTACOMPRALEG ADD COLUMN CDSERVIDOR VARCHAR(32);");
        settleOwnerlessLists(db);
    }
    if (hasColumn(db, "LISTACOMPRALEG", "NRSEQARQULT"))
        db.exec("ALTER TABLE LISTACOMPRALEG DROP COLUMN NRSEQARQULT");
    if (hasIndex(db, "IX_LISTACOMPRALEGNF_NOTA"))
        db.exec("DROP INDEX IX_LISTACOMPRALEGNF_NOTA");
    if (!hasIndex(db, "UQ_LISTACOMPRALEGNF_NOTA"))
        db.exec("CREATE UNIQUE INDEX UQ_LISTACOMPRALEGNF_NOTA ON LISTACOMPRALEGNF"
                " (CDFILIAL, NRLANCTONF)");
    if (!hasIndex(db, "IX_LISTACOMPRALEG_SESSAO"))
        db.exec("CREATE INDEX IX_LISTACOMPRALEG_SESSAO ON LISTACOMPRALEG (CDSESSAO, IDSITUACAO)");
    if (!hasIndex(db, "IX_LISTACOMPRALEG_SITUACAO"))
        db.exec("CREATE INDEX IX_LISTACOMPRALEG_SITUACAO ON LISTACOMPRALEG"
                " (IDSITUACAO, DTATIVIDADE)");
    if (!hasTable(db, "SERVCOMPRALEG"))
        db.exec("CREATE TABLE SERVCOMPRALEG ("
                "    CDSERVIDOR       VARCHAR(32)  NOT NULL,"
                "    CDMAQUINA        VARCHAR(64),"
                "    CDBOOT           VARCHAR(64),"
                "    NRPROCESSO       NUMERIC(10),"
                "    NRINICIOPROC     NUMERIC(20),"
                "    DTBATIMENTO      NUMERIC(15),"
                "    CONSTRAINT PK_SERVCOMPRALEG PRIMARY KEY (CDSERVIDOR))");

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

void prepareServerSchema(SqlConnection &db)
{
    if (auto *sqlite = dynamic_cast<SqliteConnection *>(&db)) {
        migrateServerSchema(*sqlite);
        return;
    }
    // Each probe reads no row; a missing table or column fails to prepare.
    const EngineSql sequences = {nullptr,
                                 "SELECT 1 FROM pg_class WHERE relkind = 'S' AND relname"
                                 " IN ('seq_nrlista', 'seq_nrseqarqmag') HAVING count(*) = 2",
                                 "SELECT 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME IN"
                                 " ('SEQ_NRLISTA', 'SEQ_NRSEQARQMAG') HAVING count(*) = 2"};
    try {
        for (const char *probe :
             {"SELECT NRLISTA, CDSESSAO, IDSITUACAO, DTATIVIDADE, CDSERVIDOR FROM LISTACOMPRALEG"
              " WHERE 1 = 0",
              "SELECT IDNFCOMPRALEGANT, CDFILIAL, NRLANCTONF FROM LISTACOMPRALEGNF WHERE 1 = 0",
              "SELECT NRSEQARQMAG, IDSERVIDO FROM ARQCOMPRALEG WHERE 1 = 0",
              "SELECT NRSEQARQMAG, NRORDREGARQ FROM REGARQCOMPRALEG WHERE 1 = 0",
              "SELECT CDSERVIDOR, DTBATIMENTO FROM SERVCOMPRALEG WHERE 1 = 0",
              "SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE 1 = 0",
              "SELECT ID FROM TRAVACOMPRALEG WHERE 1 = 0"}) {
            SqlStatement q(db, probe);
            q.step();
        }
        SqlStatement q(db, sqlFor(db, sequences));
        if (!q.step())
            throw DatabaseError(
                QStringLiteral("faltam as sequências SEQ_NRLISTA e SEQ_NRSEQARQMAG"));
    } catch (const DatabaseError &e) {
        throw DatabaseError(
            QStringLiteral("O banco de dados %1 não tem as tabelas do servidor do Compra LEGAL "
                           "(crie-as com db/schema/%2.sql): %3")
                .arg(db.target(), engineName(db.engine()), e.message()));
    }
}

} // namespace fis

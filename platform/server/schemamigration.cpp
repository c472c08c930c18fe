#include "server/schemamigration.h"

#include "server/exportlists.h"
#include "server/lineblocks.h"
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

constexpr char kCreateBlocks[] = "CREATE TABLE BLOCOARQCOMPRALEG ("
                                 "    NRSEQARQMAG      VARCHAR(10)    NOT NULL,"
                                 "    NRORDREGARQ      NUMERIC(10)    NOT NULL,"
                                 "    NRLINHAS         NUMERIC(3)     NOT NULL,"
                                 "    NRLISTA          VARCHAR(10)    NOT NULL,"
                                 "    SQUENCIAL        NUMERIC(10)    NOT NULL,"
                                 "    DSREGARQMAG      VARCHAR(31500) NOT NULL,"
                                 "    CONSTRAINT PK_BLOCOARQCOMPRALEG"
                                 "        PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ),"
                                 "    CONSTRAINT FK_BLOCOARQCOMPRALEG_ARQ FOREIGN KEY (NRSEQARQMAG)"
                                 "        REFERENCES ARQCOMPRALEG (NRSEQARQMAG)"
                                 ") WITHOUT ROWID";

// Puts lines stored one per row into blocks as the server builds them: consecutive lines of one
// file, at most kLinesPerBlock, a new block at every multiple of it (lines 1, 251, ...). A row
// that does not follow the one before (another file, a gap in the numbers or in SQUENCIAL)
// starts a block of its own, so every line keeps its number and SQUENCIAL.
class LineRowGrouper
{
public:
    explicit LineRowGrouper(SqliteConnection &db)
        : m_insert(db, "INSERT INTO BLOCOARQCOMPRALEG (NRSEQARQMAG, NRORDREGARQ, NRLINHAS,"
                       " NRLISTA, SQUENCIAL, DSREGARQMAG) VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
    {
        m_text.reserve(lineblocks::kBlockBytes);
    }

    void add(const SqlStatement &row)
    {
        const QByteArrayView file = row.utf8(0);
        const qint64 number = row.integer(1);
        const QByteArrayView list = row.utf8(2);
        const qint64 sequence = row.integer(3);
        const QByteArrayView text = row.utf8(4);
        if (text.size() != kRecordLength)
            throw DatabaseError(QStringLiteral("A linha %1 do arquivo %2 tem %3 caracteres, e não "
                                               "%4; as linhas guardadas não passam para blocos.")
                                    .arg(number)
                                    .arg(QString::fromUtf8(file))
                                    .arg(text.size())
                                    .arg(kRecordLength));
        const bool follows = m_count > 0 && m_count < lineblocks::kLinesPerBlock &&
                             file == m_file && list == m_list && number == m_first + m_count &&
                             sequence == m_sequence + m_count &&
                             (number - 1) % lineblocks::kLinesPerBlock != 0;
        if (!follows) {
            finish();
            m_file = file.toByteArray();
            m_list = list.toByteArray();
            m_first = number;
            m_sequence = sequence;
        }
        m_text.append(text);
        ++m_count;
    }

    void finish()
    {
        if (m_count == 0)
            return;
        m_insert.bindUtf8NoCopy(1, m_file);
        m_insert.bind(2, m_first);
        m_insert.bind(3, m_count);
        m_insert.bindUtf8NoCopy(4, m_list);
        m_insert.bind(5, m_sequence);
        m_insert.bindUtf8NoCopy(6, m_text);
        m_insert.execute();
        m_text.resize(0);
        m_count = 0;
    }

private:
    SqlStatement m_insert;
    QByteArray m_file, m_list, m_text;
    qint64 m_first = 0, m_sequence = 0, m_count = 0;
};

// The lines' table before blocks, REGARQCOMPRALEG, goes; the lines it holds (an export under way
// while the server was upgraded) go on in blocks. Lines of no file cannot be served and go.
void storeLinesInBlocks(SqliteConnection &db)
{
    if (!hasTable(db, "BLOCOARQCOMPRALEG"))
        db.exec(kCreateBlocks);
    if (!hasTable(db, "REGARQCOMPRALEG"))
        return;
    {
        SqlStatement rows(db, "SELECT NRSEQARQMAG, NRORDREGARQ, NRLISTA, SQUENCIAL, DSREGARQMAG"
                              " FROM REGARQCOMPRALEG R WHERE EXISTS (SELECT 1 FROM ARQCOMPRALEG A"
                              " WHERE A.NRSEQARQMAG = R.NRSEQARQMAG)"
                              " ORDER BY NRSEQARQMAG, NRORDREGARQ");
        LineRowGrouper blocks(db);
        while (rows.step())
            blocks.add(rows);
        blocks.finish();
    }
    db.exec("DROP TABLE REGARQCOMPRALEG");
}

} // namespace

void migrateServerSchema(SqliteConnection &db)
{
    SqlTransaction tx(db, SqlTransaction::Kind::Write);
    for (const char *table : {"NFCOMPRA", "ARQCOMPRALEG", "SEQCOMPRALEG", "LISTACOMPRALEGNF"})
        tableSql(db, table);
    // First, since undoing lists below deletes their lines from the blocks.
    storeLinesInBlocks(db);

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
              "SELECT NRSEQARQMAG, NRORDREGARQ, NRLINHAS, SQUENCIAL, DSREGARQMAG"
              " FROM BLOCOARQCOMPRALEG WHERE 1 = 0",
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

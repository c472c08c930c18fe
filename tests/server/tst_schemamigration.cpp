// The schema step of the server's start: nothing to do on a database born from the current
// schema, and an older database brought to the same shape.
#include "demodata.h"
#include "server/schemamigration.h"
#include "sqldb/sqliteconnection.h"

#include <QTemporaryDir>
#include <QTest>

using namespace fis;

namespace {

const char *const kExportTables[] = {"SEQCOMPRALEG", "LISTACOMPRALEG",  "LISTACOMPRALEGNF",
                                     "ARQCOMPRALEG", "REGARQCOMPRALEG", "SERVCOMPRALEG"};

QStringList rows(SqliteConnection &db, const char *sql, const QString &param = {})
{
    SqlStatement q(db, sql);
    if (!param.isNull())
        q.bind(1, param);
    QStringList out;
    while (q.step())
        out << q.text(0);
    return out;
}

// What the server relies on of the export tables: columns, keys, storage, indexes and the
// number generators; not the spelling of the statements that made them.
QStringList exportShape(SqliteConnection &db)
{
    QStringList shape;
    for (const char *table : kExportTables) {
        const QString name = QString::fromLatin1(table);
        shape << rows(db,
                      "SELECT name || ' ' || type || ' ' || \"notnull\" || ' ' || pk"
                      " FROM pragma_table_info(?1) ORDER BY cid",
                      name);
        shape << rows(db,
                      "SELECT name || ' rowid ' || (upper(sql) NOT LIKE '%WITHOUT ROWID%')"
                      " FROM sqlite_master WHERE type = 'table' AND name = ?1",
                      name);
        shape << rows(db,
                      "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?1"
                      " AND sql IS NOT NULL ORDER BY name",
                      name);
    }
    shape << rows(db, "SELECT NMSEQUENCIA || '=' || NRULTIMO FROM SEQCOMPRALEG ORDER BY 1");
    return shape;
}

int schemaVersion(SqliteConnection &db)
{
    return rows(db, "PRAGMA schema_version").value(0).toInt();
}

} // namespace

class TestSchemaMigration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void freshDatabaseIsLeftAlone();
    void olderDatabaseGetsTheFreshShape();
    void ownerlessListsAreSettled();

private:
    static void makeOlder(SqliteConnection &db, bool withLastFile = false);
    QString freshDatabase(const QString &name, int invoices = 10);

    QTemporaryDir m_dir;
    QStringList m_freshShape;
};

QString TestSchemaMigration::freshDatabase(const QString &name, int invoices)
{
    const QString path = m_dir.filePath(name);
    generateDemoDatabase(path, invoices);
    return path;
}

void TestSchemaMigration::initTestCase()
{
    QVERIFY(m_dir.isValid());
    SqliteConnection db(freshDatabase(QStringLiteral("reference.sqlite")), 1000);
    m_freshShape = exportShape(db);
    // The shape the server needs, as the fresh schema must already give it.
    QVERIFY(m_freshShape.contains(QStringLiteral("CDSESSAO VARCHAR(64) 0 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("IDSITUACAO CHAR(1) 1 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("IDNFCOMPRALEGANT CHAR(1) 0 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("UQ_LISTACOMPRALEGNF_NOTA")));
    QVERIFY(m_freshShape.contains(QStringLiteral("CDSERVIDOR VARCHAR(32) 1 1")));
    QVERIFY(m_freshShape.contains(QStringLiteral("REGARQCOMPRALEG rowid 0")));
    QVERIFY(!m_freshShape.contains(QStringLiteral("IX_REGARQCOMPRALEG_LISTA")));
    QVERIFY(m_freshShape.contains(QStringLiteral("NRLISTA=0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("NRSEQARQMAG=0")));
}

void TestSchemaMigration::freshDatabaseIsLeftAlone()
{
    SqliteConnection db(freshDatabase(QStringLiteral("fresh.sqlite")), 1000);
    const int version = schemaVersion(db);
    migrateServerSchema(db);
    migrateServerSchema(db);
    QCOMPARE(schemaVersion(db), version);
    QCOMPARE(exportShape(db), m_freshShape);
}

void TestSchemaMigration::olderDatabaseGetsTheFreshShape()
{
    SqliteConnection db(freshDatabase(QStringLiteral("older.sqlite")), 1000);
    makeOlder(db);
    QVERIFY(exportShape(db) != m_freshShape);
    migrateServerSchema(db);
    QCOMPARE(exportShape(db), m_freshShape);
    const int version = schemaVersion(db);
    migrateServerSchema(db);
    QCOMPARE(schemaVersion(db), version);
}

void TestSchemaMigration::makeOlder(SqliteConnection &db, bool withLastFile)
{
    // Back to the export tables as host databases had them before this server: lists without
    // owner, state or activity, and (before that) without the file asked for last.
    db.exec("PRAGMA foreign_keys = OFF;"
            "DROP TABLE LISTACOMPRALEG;"
            "CREATE TABLE LISTACOMPRALEG (NRLISTA VARCHAR(10) NOT NULL,"
            "    DTCRIACAO TIMESTAMP NOT NULL, CONSTRAINT PK_LISTACOMPRALEG PRIMARY KEY (NRLISTA));"
            "DROP INDEX UQ_LISTACOMPRALEGNF_NOTA;"
            "CREATE INDEX IX_LISTACOMPRALEGNF_NOTA ON LISTACOMPRALEGNF (CDFILIAL, NRLANCTONF);"
            "DROP TABLE SERVCOMPRALEG;");
    if (withLastFile) {
        db.exec("ALTER TABLE LISTACOMPRALEG ADD COLUMN NRSEQARQULT VARCHAR(10)");
        return;
    }
    db.exec("ALTER TABLE LISTACOMPRALEGNF DROP COLUMN IDNFCOMPRALEGANT;"
            "DROP TABLE REGARQCOMPRALEG;"
            "CREATE TABLE REGARQCOMPRALEG ("
            "    NRSEQARQMAG VARCHAR(10) NOT NULL, NRORDREGARQ NUMERIC(10) NOT NULL,"
            "    NRLISTA VARCHAR(10) NOT NULL, DSREGARQMAG VARCHAR(4000) NOT NULL,"
            "    SQUENCIAL NUMERIC(10) NOT NULL,"
            "    CONSTRAINT PK_REGARQCOMPRALEG PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ));"
            "CREATE INDEX IX_REGARQCOMPRALEG_LISTA ON REGARQCOMPRALEG (NRLISTA);"
            "DELETE FROM SEQCOMPRALEG;");
}

void TestSchemaMigration::ownerlessListsAreSettled()
{
    SqliteConnection db(freshDatabase(QStringLiteral("lists.sqlite"), 200), 1000);
    makeOlder(db, true);
    // Two invoices of each of two registrations, all marked exported by two lists: list 1 served
    // both its files; list 2 served file A, then asked for file B and stopped there.
    const QStringList keys = rows(db, "SELECT CDFILIAL || ':' || NRLANCTONF || ':' || CDINSCESTA"
                                      " FROM NFCOMPRA WHERE CDFILIAL IN ('0001', '0002')"
                                      " ORDER BY CDFILIAL, NRLANCTONF");
    QStringList chosen;
    for (const char *branch : {"0001", "0001", "0002", "0002", "0001", "0002"}) {
        for (const QString &k : keys)
            if (k.startsWith(QLatin1String(branch)) && !chosen.contains(k)) {
                chosen << k;
                break;
            }
    }
    QCOMPARE(chosen.size(), 6);
    db.exec(
        "INSERT INTO LISTACOMPRALEG VALUES ('0000000001', '2025-05-01 10:00:00', '0000000002');"
        "INSERT INTO LISTACOMPRALEG VALUES ('0000000002', '2025-05-01 11:00:00', '0000000004');");
    const QString regA = chosen[0].section(u':', 2), regB = chosen[2].section(u':', 2);
    const auto exec = [&](const char *sql, const QStringList &values) {
        SqlStatement q(db, sql);
        for (int i = 0; i < values.size(); ++i)
            q.bind(i + 1, values[i]);
        q.execute();
    };
    const char *file = "INSERT INTO ARQCOMPRALEG VALUES (?1, ?2, '01', ?3, 'BA', ?4, 10, ?5, NULL)";
    exec(file, {"0000000001", "0000000001", regA, "0001", "S"});
    exec(file, {"0000000002", "0000000001", regB, "0002", "S"});
    exec(file, {"0000000003", "0000000002", regA, "0001", "S"});
    exec(file, {"0000000004", "0000000002", regB, "0002", "N"});
    for (int i = 0; i < 6; ++i) {
        const QStringList p = chosen[i].split(u':');
        exec("INSERT INTO LISTACOMPRALEGNF VALUES (?1, ?2 || ?3, ?4, ?2, ?3, 'N')",
             {i < 4 ? "0000000001" : "0000000002", p[0], p[1], p[2]});
        exec("UPDATE NFCOMPRA SET IDNFCOMPRALEG = 'S' WHERE CDFILIAL = ?1 AND NRLANCTONF = ?2",
             {p[0], p[1]});
    }

    migrateServerSchema(db);
    QCOMPARE(exportShape(db), m_freshShape);
    const auto flag = [&](int i) {
        const QStringList p = chosen[i].split(u':');
        SqlStatement q(db, "SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE CDFILIAL = ?1"
                           " AND NRLANCTONF = ?2");
        q.bind(1, p[0]);
        q.bind(2, p[1]);
        return q.step() ? q.text(0) : QString();
    };
    // List 1 was delivered: final, its files delivered, its invoices exported and off the list.
    QCOMPARE(rows(db, "SELECT NRLISTA || IDSITUACAO FROM LISTACOMPRALEG"),
             QStringList{QStringLiteral("0000000001F")});
    QCOMPARE(rows(db, "SELECT NRSEQARQMAG || IDSERVIDO FROM ARQCOMPRALEG ORDER BY 1"),
             (QStringList{QStringLiteral("0000000001E"), QStringLiteral("0000000002E")}));
    QCOMPARE(rows(db, "SELECT count(*) FROM LISTACOMPRALEGNF"), QStringList{QStringLiteral("0")});
    // The four invoices of list 1 exported; of list 2, file A's invoice exported (the client
    // went on to B), file B's not.
    QStringList flags;
    for (int i = 0; i < 6; ++i)
        flags << flag(i);
    QCOMPARE(flags, (QStringList{"S", "S", "S", "S", "S", "N"}));
}

QTEST_GUILESS_MAIN(TestSchemaMigration)
#include "tst_schemamigration.moc"

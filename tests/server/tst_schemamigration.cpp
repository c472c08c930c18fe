// The schema step of the server's start: nothing to do on a database born from the current
// schema, and an older database brought to the same shape.
#include "demodata.h"
#include "server/schemamigration.h"
#include "server/sqliteconnection.h"

#include <QTemporaryDir>
#include <QTest>

using namespace fis;

namespace {

const char *const kExportTables[] = {"SEQCOMPRALEG", "LISTACOMPRALEG", "LISTACOMPRALEGNF",
                                     "ARQCOMPRALEG", "REGARQCOMPRALEG"};

QStringList rows(SqliteConnection &db, const char *sql, const QString &param = {})
{
    SqliteStatement q(db, sql);
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

private:
    QString freshDatabase(const QString &name);

    QTemporaryDir m_dir;
    QStringList m_freshShape;
};

QString TestSchemaMigration::freshDatabase(const QString &name)
{
    const QString path = m_dir.filePath(name);
    generateDemoDatabase(path, 10);
    return path;
}

void TestSchemaMigration::initTestCase()
{
    QVERIFY(m_dir.isValid());
    SqliteConnection db(freshDatabase(QStringLiteral("reference.sqlite")), 1000);
    m_freshShape = exportShape(db);
    // The shape the server needs, as the fresh schema must already give it.
    QVERIFY(m_freshShape.contains(QStringLiteral("NRSEQARQULT VARCHAR(10) 0 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("IDNFCOMPRALEGANT CHAR(1) 0 0")));
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
    // Back to the export tables as host databases had them before this server.
    db.exec("ALTER TABLE LISTACOMPRALEG DROP COLUMN NRSEQARQULT;"
            "ALTER TABLE LISTACOMPRALEGNF DROP COLUMN IDNFCOMPRALEGANT;"
            "DROP TABLE REGARQCOMPRALEG;"
            "CREATE TABLE REGARQCOMPRALEG ("
            "    NRSEQARQMAG VARCHAR(10) NOT NULL, NRORDREGARQ NUMERIC(10) NOT NULL,"
            "    NRLISTA VARCHAR(10) NOT NULL, DSREGARQMAG VARCHAR(4000) NOT NULL,"
            "    SQUENCIAL NUMERIC(10) NOT NULL,"
            "    CONSTRAINT PK_REGARQCOMPRALEG PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ));"
            "CREATE INDEX IX_REGARQCOMPRALEG_LISTA ON REGARQCOMPRALEG (NRLISTA);"
            "DELETE FROM SEQCOMPRALEG;");
    QVERIFY(exportShape(db) != m_freshShape);
    migrateServerSchema(db);
    QCOMPARE(exportShape(db), m_freshShape);
    const int version = schemaVersion(db);
    migrateServerSchema(db);
    QCOMPARE(schemaVersion(db), version);
}

QTEST_GUILESS_MAIN(TestSchemaMigration)
#include "tst_schemamigration.moc"

// How a database connection is written, read back and completed from the server's keys, and
// where its password comes from: never from the text itself.

#include "base/databasetarget.h"
#include "base/error.h"
#include "server/serverconfig.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace fis;

class TestDatabaseTarget : public QObject
{
    Q_OBJECT

private slots:
    void parsed_data();
    void parsed();
    void refused_data();
    void refused();
    void passwordSources();
    void serverKeysCompleteTheTarget_data();
    void serverKeysCompleteTheTarget();
    void serverRefusesAnIncompleteTarget_data();
    void serverRefusesAnIncompleteTarget();
};

void TestDatabaseTarget::parsed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<DatabaseEngine>("engine");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("passwordFile");
    QTest::newRow("sqlite file") << "var/demo.sqlite" << DatabaseEngine::Sqlite << "var/demo.sqlite"
                                 << "" << -1 << ""
                                 << "";
    QTest::newRow("sqlite prefix")
        << "sqlite:/srv/a b.sqlite" << DatabaseEngine::Sqlite << "/srv/a b.sqlite"
        << "" << -1 << ""
        << "";
    QTest::newRow("postgresql") << "postgresql://fis@db.local:5433/fiscal?password_file=/etc/p"
                                << DatabaseEngine::PostgreSql << "fiscal"
                                << "db.local" << 5433 << "fis"
                                << "/etc/p";
    QTest::newRow("postgresql default port")
        << "postgresql://fis@db/fiscal" << DatabaseEngine::PostgreSql << "fiscal"
        << "db" << -1 << "fis"
        << "";
    QTest::newRow("firebird path") << "firebird://SYSDBA@127.0.0.1:3051//srv/fis/host.fdb"
                                   << DatabaseEngine::Firebird << "/srv/fis/host.fdb"
                                   << "127.0.0.1" << 3051 << "SYSDBA"
                                   << "";
    QTest::newRow("firebird alias")
        << "firebird://fis@fb/fiscal" << DatabaseEngine::Firebird << "fiscal"
        << "fb" << -1 << "fis"
        << "";
}

void TestDatabaseTarget::parsed()
{
    QFETCH(QString, text);
    const DatabaseTarget target = DatabaseTarget::parse(text);
    QTEST(target.engine, "engine");
    QTEST(target.database, "database");
    QTEST(target.host, "host");
    QTEST(target.port, "port");
    QTEST(target.user, "user");
    QTEST(target.passwordFile, "passwordFile");
    // What is written back reads as the same target.
    const DatabaseTarget again = DatabaseTarget::parse(target.toString());
    QCOMPARE(again.engine, target.engine);
    QCOMPARE(again.database, target.database);
    QCOMPARE(again.host, target.host);
    QCOMPARE(again.port, target.port);
    QCOMPARE(again.user, target.user);
    QCOMPARE(again.passwordFile, target.passwordFile);
}

void TestDatabaseTarget::refused_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("password in the text") << "postgresql://fis:secret@db/fiscal";
    QTest::newRow("no host") << "postgresql:///fiscal";
    QTest::newRow("no database") << "firebird://fis@fb/";
    QTest::newRow("unknown option") << "postgresql://fis@db/fiscal?sslmode=off";
    QTest::newRow("unknown engine") << "mysql://fis@db/fiscal";
}

void TestDatabaseTarget::refused()
{
    QFETCH(QString, text);
    try {
        DatabaseTarget::parse(text);
        QFAIL("accepted");
    } catch (const ConfigError &e) {
        QVERIFY2(!e.message().contains(u"secret"), qPrintable(e.message()));
    }
}

void TestDatabaseTarget::passwordSources()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("pw"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("s3cr;et\r\nignored\n");
    f.close();
    DatabaseTarget target = DatabaseTarget::parse(QStringLiteral("postgresql://fis@db/fiscal"));
    target.passwordFile = file;
    QCOMPARE(target.password(), QStringLiteral("s3cr;et"));
    QVERIFY(!target.toString().contains(u"s3cr"));

    target.passwordFile.clear();
    target.passwordEnv = QStringLiteral("FIS_TEST_DB_PASSWORD");
    qunsetenv("FIS_TEST_DB_PASSWORD");
    QVERIFY_THROWS_EXCEPTION(ConfigError, target.password());
    qputenv("FIS_TEST_DB_PASSWORD", "from-env");
    QCOMPARE(target.password(), QStringLiteral("from-env"));

    target.passwordEnv.clear();
    qputenv("FIS_DB_PASSWORD", "fallback");
    QCOMPARE(target.password(), QStringLiteral("fallback"));
    qputenv("FIS_DB_PASSWORD_FILE", file.toLocal8Bit());
    QCOMPARE(target.password(), QStringLiteral("s3cr;et"));
    qputenv("FIS_DB_PASSWORD_FILE", dir.filePath(QStringLiteral("missing")).toLocal8Bit());
    QVERIFY_THROWS_EXCEPTION(ConfigError, target.password());
    qunsetenv("FIS_DB_PASSWORD_FILE");
    qunsetenv("FIS_DB_PASSWORD");
}

void TestDatabaseTarget::serverKeysCompleteTheTarget_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("target");
    QTest::newRow("sqlite") << QStringList{"--database", "/srv/host.sqlite"} << "/srv/host.sqlite";
    QTest::newRow("postgresql by keys")
        << QStringList{"--db-engine", "PostgreSQL", "--database",         "fiscal",
                       "--db-host",   "db",         "--db-port",          "5433",
                       "--db-user",   "fis",        "--db-password-file", "/etc/p"}
        << "postgresql://fis@db:5433/fiscal?password_file=/etc/p";
    QTest::newRow("firebird by keys")
        << QStringList{"--db-engine", "firebird",  "--database", "/srv/host.fdb",     "--db-host",
                       "fb",          "--db-user", "SYSDBA",     "--db-password-env", "FB_PW"}
        << "firebird://SYSDBA@fb//srv/host.fdb?password_env=FB_PW";
    QTest::newRow("connection text, port overridden")
        << QStringList{"--database", "postgresql://fis@db:5432/fiscal", "--db-port", "6000"}
        << "postgresql://fis@db:6000/fiscal";
}

void TestDatabaseTarget::serverKeysCompleteTheTarget()
{
    QFETCH(QStringList, arguments);
    const ServerConfig config = parseServerConfig(arguments + QStringList{"--output-dir", "/tmp"});
    QTEST(config.target().toString(), "target");
}

void TestDatabaseTarget::serverRefusesAnIncompleteTarget_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown engine") << QStringList{"--db-engine", "oracle", "--database", "x"};
    QTest::newRow("no host") << QStringList{"--db-engine", "postgresql", "--database", "fiscal"};
    QTest::newRow("password in the text")
        << QStringList{"--database", "postgresql://fis:pw@db/fiscal"};
}

void TestDatabaseTarget::serverRefusesAnIncompleteTarget()
{
    QFETCH(QStringList, arguments);
    QVERIFY_THROWS_EXCEPTION(ConfigError,
                             parseServerConfig(arguments + QStringList{"--output-dir", "/tmp"}));
}

QTEST_GUILESS_MAIN(TestDatabaseTarget)
#include "tst_databasetarget.moc"

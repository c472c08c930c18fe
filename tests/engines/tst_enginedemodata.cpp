// The demo data on PostgreSQL and Firebird: the same rows as the SQLite file made with the same
// arguments, table by table and row by row; the summary, the command line, a second run, the
// sequences after the data, and what a failure leaves behind.
#include "demodata.h"
#include "enginetestutil.h"
#include "sqldb/firebirdconnection.h"
#include "testsupport/enginedatabase.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

using namespace fis;
using namespace fis::test;

namespace {

constexpr int kInvoices = 2000;
constexpr quint64 kSeed = 20250520;

// Every row of a table in primary-key order, each value in its comparable form.
QStringList sqliteRows(const SqliteFile &db, const QString &table)
{
    const auto columns = db.columns(table);
    QStringList names;
    for (const auto &c : columns)
        names << c.first;
    QStringList out;
    for (const QVariantList &row :
         db.rows(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                     .arg(names.join(u','), table, db.primaryKey(table).join(u',')))) {
        QStringList values;
        for (size_t c = 0; c < columns.size(); ++c)
            values << comparable(row.at(qsizetype(c)), columns[c].second);
        out << values.join(u'|');
    }
    return out;
}

QStringList engineRows(EngineConnection &db, const SqliteFile &sqlite, const QString &table)
{
    const auto columns = sqlite.columns(table);
    QStringList names;
    for (const auto &c : columns)
        names << c.first;
    QStringList out;
    for (const QVariantList &row :
         db.rows(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                     .arg(names.join(u','), table, sqlite.primaryKey(table).join(u',')))) {
        QStringList values;
        for (size_t c = 0; c < columns.size(); ++c)
            values << comparable(row.at(qsizetype(c)), columns[c].second);
        out << values.join(u'|');
    }
    return out;
}

// The summary without what differs by engine: the database's name, and the row counts of the
// tables only one edition has.
QString comparableSummary(QString summary)
{
    QStringList lines = summary.split(u'\n');
    lines.removeFirst();
    lines.removeIf([](const QString &line) {
        return line.contains(u"SEQCOMPRALEG") || line.contains(u"TRAVACOMPRALEG");
    });
    return lines.join(u'\n');
}

qint64 count(EngineConnection &db, const QString &table)
{
    return db.rows(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).at(0).at(0).toLongLong();
}

QString binPath(const QString &name)
{
    return qEnvironmentVariable("FIS_BIN_DIR") + u'/' + name;
}

} // namespace

class TstEngineDemoData : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void sameRowsAsSqlite_data();
    void sameRowsAsSqlite();
    void summaryIsThatOfSqlite_data();
    void summaryIsThatOfSqlite();
    void commandLineWritesAndRewrites_data();
    void commandLineWritesAndRewrites();
    void sequencesFollowTheData_data();
    void sequencesFollowTheData();
    void failedCopyLeavesNothingHalfDone_data();
    void failedCopyLeavesNothingHalfDone();
    void messagesNeverHoldThePassword_data();
    void messagesNeverHoldThePassword();

private:
    QTemporaryDir m_dir;
    QString m_sqlitePath;
    std::unique_ptr<SqliteFile> m_sqlite;
    std::map<DatabaseEngine, std::unique_ptr<SeededEngineDatabase>> m_databases;
};

void TstEngineDemoData::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_sqlitePath = m_dir.filePath(QStringLiteral("demo.sqlite"));
    generateDemoDatabase(m_sqlitePath, kInvoices, kSeed);
    m_sqlite = std::make_unique<SqliteFile>(m_sqlitePath);
    for (DatabaseEngine engine : serverEngines()) {
        auto database = std::make_unique<SeededEngineDatabase>(engine, kInvoices, kSeed);
        QVERIFY2(database->isValid(), qPrintable(database->error()));
        m_databases[engine] = std::move(database);
    }
}

void TstEngineDemoData::cleanupTestCase()
{
    m_databases.clear();
}

static void addEngineRows()
{
    QTest::addColumn<DatabaseEngine>("engine");
    for (DatabaseEngine engine : serverEngines())
        QTest::newRow(qPrintable(engineName(engine))) << engine;
}

void TstEngineDemoData::sameRowsAsSqlite_data()
{
    QTest::addColumn<DatabaseEngine>("engine");
    QTest::addColumn<QString>("table");
    for (DatabaseEngine engine : serverEngines()) {
        for (const QString &table : m_sqlite->tables()) {
            if (table != u"SEQCOMPRALEG")
                QTest::addRow("%s %s", qPrintable(engineName(engine)), qPrintable(table))
                    << engine << table;
        }
    }
}

void TstEngineDemoData::sameRowsAsSqlite()
{
    QFETCH(DatabaseEngine, engine);
    QFETCH(QString, table);
    EngineConnection db(m_databases.at(engine)->target());
    const QStringList expected = sqliteRows(*m_sqlite, table);
    const QStringList rows = engineRows(db, *m_sqlite, table);
    QCOMPARE(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        QVERIFY2(
            rows.at(i) == expected.at(i),
            qPrintable(
                QStringLiteral("row %1: %2 instead of %3").arg(i).arg(rows.at(i), expected.at(i))));
}

void TstEngineDemoData::summaryIsThatOfSqlite_data()
{
    addEngineRows();
}

void TstEngineDemoData::summaryIsThatOfSqlite()
{
    QFETCH(DatabaseEngine, engine);
    const DatabaseTarget &target = m_databases.at(engine)->target();
    const QString summary = demoDatabaseSummary(target);
    QVERIFY2(summary.startsWith(QStringLiteral("Banco de dados ") + target.toString() + u'\n'),
             qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral("TRAVACOMPRALEG             1")), qPrintable(summary));
    const QString expected = demoDatabaseSummary(m_sqlitePath);
    QVERIFY(expected.contains(QStringLiteral("Notas por mês")));
    QCOMPARE(comparableSummary(summary), comparableSummary(expected));
}

void TstEngineDemoData::commandLineWritesAndRewrites_data()
{
    addEngineRows();
}

void TstEngineDemoData::commandLineWritesAndRewrites()
{
    QFETCH(DatabaseEngine, engine);
    EngineDatabase database(engine);
    QVERIFY2(database.isValid(), qPrintable(database.error()));
    const QString connection = database.target().toString();
    const auto run = [&](const QStringList &arguments) {
        QProcess p;
        p.start(binPath(QStringLiteral("fis-demodata")),
                QStringList{QStringLiteral("--database"), connection} + arguments);
        if (!p.waitForFinished(120000))
            return QStringLiteral("did not finish");
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        return p.exitCode() == 0 ? out
                                 : QStringLiteral("exit %1: %2")
                                       .arg(p.exitCode())
                                       .arg(QString::fromUtf8(p.readAllStandardError()));
    };
    const QString first =
        run({QStringLiteral("--invoices"), QStringLiteral("25"), QStringLiteral("--seed"),
             QStringLiteral("9"), QStringLiteral("--summary")});
    QVERIFY2(
        first.startsWith(QStringLiteral("Gerado ") + connection + QStringLiteral(": 25 notas")),
        qPrintable(first));
    QVERIFY2(first.contains(QStringLiteral("Gerado com --invoices 25 --seed 9")),
             qPrintable(first));

    // Something of the user's own in the PostgreSQL database outlives a second run.
    if (engine == DatabaseEngine::PostgreSql) {
        EngineConnection db(database.target());
        db.exec(QStringLiteral("CREATE TABLE OUTRA (X INTEGER)"));
    }
    const QString second = run({QStringLiteral("--invoices"), QStringLiteral("12")});
    QVERIFY2(second.contains(QStringLiteral(": 12 notas")), qPrintable(second));
    EngineConnection db(database.target());
    QCOMPARE(count(db, QStringLiteral("NFCOMPRA")), 12);
    QCOMPARE(count(db, QStringLiteral("TRAVACOMPRALEG")), 1);
    if (engine == DatabaseEngine::PostgreSql)
        QCOMPARE(count(db, QStringLiteral("OUTRA")), 0);
    const QString summary = run({QStringLiteral("--summary")});
    QVERIFY2(summary.contains(QStringLiteral("Gerado com --invoices 12 --seed 20250520")),
             qPrintable(summary));
}

void TstEngineDemoData::sequencesFollowTheData_data()
{
    addEngineRows();
}

void TstEngineDemoData::sequencesFollowTheData()
{
    QFETCH(DatabaseEngine, engine);
    // A file whose generators have handed out list numbers up to 41.
    const QString path = m_dir.filePath(QStringLiteral("numbered.sqlite"));
    generateDemoDatabase(path, kMinDemoInvoices);
    {
        QSqlDatabase file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), path);
        file.setDatabaseName(path);
        QVERIFY(file.open());
        QSqlQuery q(file);
        QVERIFY(q.exec(
            QStringLiteral("UPDATE SEQCOMPRALEG SET NRULTIMO = 41 WHERE NMSEQUENCIA = 'NRLISTA'")));
    }
    QSqlDatabase::removeDatabase(path);

    EngineDatabase database(engine);
    QVERIFY2(database.isValid(), qPrintable(database.error()));
    copyDemoDatabase(path, database.target());
    EngineConnection db(database.target());
    const QString next = engine == DatabaseEngine::Firebird
                             ? QStringLiteral("SELECT NEXT VALUE FOR %1 FROM RDB$DATABASE")
                             : QStringLiteral("SELECT NEXTVAL('%1')");
    QCOMPARE(db.rows(next.arg(QStringLiteral("SEQ_NRLISTA"))).at(0).at(0).toLongLong(), 42);
    QCOMPARE(db.rows(next.arg(QStringLiteral("SEQ_NRSEQARQMAG"))).at(0).at(0).toLongLong(), 1);
}

void TstEngineDemoData::failedCopyLeavesNothingHalfDone_data()
{
    addEngineRows();
}

void TstEngineDemoData::failedCopyLeavesNothingHalfDone()
{
    QFETCH(DatabaseEngine, engine);
    // SQLite does not hold its foreign keys by default; the engines refuse an invoice of a
    // client that does not exist when the keys are added after the rows.
    const QString path = m_dir.filePath(QStringLiteral("broken.sqlite"));
    generateDemoDatabase(path, kMinDemoInvoices);
    {
        QSqlDatabase file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), path);
        file.setDatabaseName(path);
        QVERIFY(file.open());
        QSqlQuery q(file);
        QVERIFY(q.exec(QStringLiteral("UPDATE NFCOMPRA SET CDCLIENTE = '999999' WHERE "
                                      "NRLANCTONF = (SELECT MIN(NRLANCTONF) FROM NFCOMPRA)")));
    }
    QSqlDatabase::removeDatabase(path);

    EngineDatabase database(engine);
    QVERIFY2(database.isValid(), qPrintable(database.error()));
    generateDemoDatabase(database.target(), 30);
    try {
        copyDemoDatabase(path, database.target());
        QFAIL("an invoice of an unknown client was copied");
    } catch (const DemoDataError &e) {
        QVERIFY2(e.message().contains(u"FK_NFCOMPRA_CLIENTE", Qt::CaseInsensitive),
                 qPrintable(e.message()));
    }
    if (engine == DatabaseEngine::Firebird) {
        // The half-made database is gone: nothing is left to drop.
        QVERIFY(!dropFirebirdDatabase(database.target()));
    } else {
        // The transaction took the drops back too: the earlier data is all there.
        EngineConnection db(database.target());
        QCOMPARE(count(db, QStringLiteral("NFCOMPRA")), 30);
    }
}

void TstEngineDemoData::messagesNeverHoldThePassword_data()
{
    addEngineRows();
}

void TstEngineDemoData::messagesNeverHoldThePassword()
{
    QFETCH(DatabaseEngine, engine);
    QFile file(m_databases.at(engine)->target().passwordFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString password = QString::fromUtf8(file.readAll()).trimmed();
    QVERIFY(password.size() >= 8);
    const QString wrongFile = m_dir.filePath(QStringLiteral("wrong-password"));
    QFile wrong(wrongFile);
    QVERIFY(wrong.open(QIODevice::WriteOnly));
    wrong.write("not-" + password.toUtf8());
    wrong.close();

    DatabaseTarget refused = m_databases.at(engine)->target();
    refused.passwordFile = wrongFile;
    DatabaseTarget missing = m_databases.at(engine)->target();
    missing.database += QStringLiteral("_missing");
    for (const DatabaseTarget &target : {refused, missing}) {
        try {
            demoDatabaseSummary(target);
            QFAIL("a database that cannot be opened was summarised");
        } catch (const DemoDataError &e) {
            QVERIFY2(e.message().contains(target.toString()), qPrintable(e.message()));
            QVERIFY2(!e.message().contains(password), "the password is in the message");
        }
    }
}

QTEST_GUILESS_MAIN(TstEngineDemoData)
#include "tst_enginedemodata.moc"

// The SQLite connection's log of its own updates: what it keeps, and everything that makes it
// unusable, since a reader that trusts it would show rows the database no longer holds.
#include "sqldb/sqldatabase.h"
#include "sqldb/sqliteconnection.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace fis;

namespace {

using Updates = std::vector<std::pair<qint64, bool>>;

std::optional<Updates> updatesSince(const SqliteConnection &db, quint64 from)
{
    const auto logged = db.loggedUpdatesSince(from);
    if (!logged)
        return std::nullopt;
    Updates updates;
    for (const SqliteConnection::LoggedUpdate &u : *logged)
        updates.emplace_back(u.rowId, u.isValue);
    return updates;
}

void run(SqlConnection &db, const char *sql)
{
    SqlStatement q(db, sql);
    q.execute();
}

} // namespace

class TestSqliteConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void updatesKeptByRowAndValue();
    void logSpoiled_data();
    void logSpoiled();
    void tableWithoutRowIdsCountedButNotLogged();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SqliteConnection> m_db;
};

void TestSqliteConnection::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath(QStringLiteral("log.db"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly)); // an empty file is an empty database
    file.close();
    m_db = std::make_unique<SqliteConnection>(path, 1000);
    m_db->exec("CREATE TABLE T (ID INTEGER PRIMARY KEY, FLAG TEXT, OTHER TEXT UNIQUE);"
               "CREATE TABLE U (X TEXT);"
               "CREATE TABLE V (X TEXT);"
               "INSERT INTO T VALUES (1, 'N', 'a'), (2, 'N', 'b'), (3, 'S', 'c'), (5, 'N', 'd');"
               "INSERT INTO U VALUES ('u')");
    m_db->countChangesTo({"t", "U"});
}

void TestSqliteConnection::cleanup()
{
    m_db.reset();
    m_dir.reset();
}

void TestSqliteConnection::updatesKeptByRowAndValue()
{
    m_db->logUpdates("T", "flag", "S", 100);
    const quint64 from = m_db->countedChanges();
    QVERIFY(updatesSince(*m_db, from) == Updates{});

    m_db->begin(SqlConnection::TransactionKind::Write);
    run(*m_db, "UPDATE T SET FLAG = 'S' WHERE ID IN (2, 5)");
    run(*m_db, "UPDATE T SET FLAG = 'N' WHERE ID = 3");
    m_db->commit();
    // Neither a table it does not count nor a read spoils it.
    run(*m_db, "INSERT INTO V VALUES ('v')");
    SqlStatement read(*m_db, "SELECT count(*) FROM T");
    QVERIFY(read.step());
    read.reset();

    QCOMPARE(m_db->countedChanges(), from + 3);
    QVERIFY(updatesSince(*m_db, from) == (Updates{{2, true}, {5, true}, {3, false}}));
    QVERIFY(updatesSince(*m_db, from + 2) == (Updates{{3, false}}));
    QVERIFY(updatesSince(*m_db, from + 3) == Updates{});
    // From before the log began, it cannot tell.
    m_db->logUpdates("T", "FLAG", "S", 100);
    QVERIFY(!updatesSince(*m_db, from));
    run(*m_db, "UPDATE T SET FLAG = 'S' WHERE ID = 1");
    QVERIFY(updatesSince(*m_db, from + 3) == (Updates{{1, true}}));
    m_db->stopLoggingUpdates();
    QVERIFY(!updatesSince(*m_db, from + 3));
}

void TestSqliteConnection::logSpoiled_data()
{
    QTest::addColumn<QString>("what");
    for (const char *what : {"insert", "delete", "another counted table", "rollback",
                             "failed statement", "past the limit", "no such column"})
        QTest::addRow("%s", what) << QString::fromLatin1(what);
}

// Each spoils the log for good; the counting goes on, and a log started again is usable.
void TestSqliteConnection::logSpoiled()
{
    QFETCH(QString, what);
    m_db->logUpdates("T", what == u"no such column" ? "NOFLAG" : "FLAG", "S", 3);
    const quint64 from = m_db->countedChanges();
    run(*m_db, "UPDATE T SET FLAG = 'S' WHERE ID = 1");
    if (what == u"insert") {
        run(*m_db, "INSERT INTO T VALUES (7, 'N', 'e')");
    } else if (what == u"delete") {
        run(*m_db, "DELETE FROM T WHERE ID = 2");
    } else if (what == u"another counted table") {
        run(*m_db, "UPDATE U SET X = 'w'");
    } else if (what == u"rollback") {
        m_db->begin(SqlConnection::TransactionKind::Write);
        run(*m_db, "UPDATE T SET FLAG = 'S' WHERE ID = 2");
        m_db->rollback();
    } else if (what == u"failed statement") {
        // The first row's update is undone with the statement; the transaction commits.
        m_db->begin(SqlConnection::TransactionKind::Write);
        bool failed = false;
        try {
            run(*m_db, "UPDATE T SET OTHER = 'z', FLAG = 'S' WHERE ID IN (2, 5)");
        } catch (const DatabaseError &) {
            failed = true;
        }
        QVERIFY(failed);
        m_db->commit();
    } else if (what == u"past the limit") {
        run(*m_db, "UPDATE T SET FLAG = 'N'");
    }
    QVERIFY(m_db->countedChanges() > from);
    QVERIFY(!updatesSince(*m_db, from));
    QVERIFY(!updatesSince(*m_db, m_db->countedChanges()));

    m_db->logUpdates("T", "FLAG", "S", 3);
    run(*m_db, "UPDATE T SET FLAG = 'N' WHERE ID = 1");
    QVERIFY(updatesSince(*m_db, m_db->countedChanges() - 1) == (Updates{{1, false}}));
}

void TestSqliteConnection::tableWithoutRowIdsCountedButNotLogged()
{
    m_db->exec("CREATE TABLE W (K TEXT PRIMARY KEY, FLAG TEXT) WITHOUT ROWID;"
               "INSERT INTO W VALUES ('k', 'N')");
    m_db->countChangesTo({"W"});
    m_db->logUpdates("W", "FLAG", "S", 100);
    const quint64 from = m_db->countedChanges();
    run(*m_db, "UPDATE W SET FLAG = 'S'");
    QCOMPARE(m_db->countedChanges(), from + 1);
    QVERIFY(!updatesSince(*m_db, from));
}

QTEST_GUILESS_MAIN(TestSqliteConnection)
#include "tst_sqliteconnection.moc"

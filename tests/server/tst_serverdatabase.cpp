// The server's SQLite connection: a worker's commits leave copying the write-ahead log into the
// database to another connection, so that building a big file does not wait for that copy; the
// process's writers on one file take turns on a lock of the process.
#include "sqldb/sqliteconnection.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

using namespace fis;

class TestServerDatabase : public QObject
{
    Q_OBJECT

private slots:
    void checkpointLeftToAnotherConnection();
    void writersTakeTurns();
};

namespace {

QString emptyDatabase(const QTemporaryDir &dir, const char *name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile empty(path); // an empty file is an empty database
    empty.open(QIODevice::WriteOnly);
    return path;
}

} // namespace

void TestServerDatabase::checkpointLeftToAnotherConnection()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("wal.sqlite"));
    {
        QFile empty(path); // an empty file is an empty database
        QVERIFY(empty.open(QIODevice::WriteOnly));
    }
    SqliteConnection worker(path, 1000);
    worker.exec("CREATE TABLE T (X BLOB NOT NULL)");
    SqliteConnection janitor(path, 1000);
    janitor.checkpoint();
    const qint64 emptySize = QFileInfo(path).size();
    int requests = 0;
    worker.checkpointElsewhere([&requests] { ++requests; });

    // Some 8 MB in one commit: far past the log size at which SQLite would copy it itself.
    {
        SqlTransaction tx(worker, SqlTransaction::Kind::Write);
        worker.exec("WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 2000)"
                    " INSERT INTO T SELECT randomblob(4000) FROM N");
        tx.commit();
    }
    QCOMPARE(requests, 1);
    QCOMPARE(QFileInfo(path).size(), emptySize); // still all in the log
    QVERIFY(QFileInfo(path + QStringLiteral("-wal")).size() > 8000000);

    janitor.checkpoint();
    QVERIFY(QFileInfo(path).size() > 8000000);
    {
        SqlStatement count(janitor, "SELECT count(*) FROM T");
        QVERIFY(count.step());
        QCOMPARE(count.integer(0), 2000);
    }

    // Once copied, the log starts over: a small commit asks for nothing.
    worker.exec("INSERT INTO T VALUES (x'00')");
    QCOMPARE(requests, 1);
}

// A writer waits for the one before, whichever way that one ends (commit, rollback, the
// connection closed), and one waiting longer than its busy timeout fails as SQLite would. The
// lock is the file's, whatever path names it; readers never wait for it.
void TestServerDatabase::writersTakeTurns()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = emptyDatabase(dir, "turns.sqlite");
    SqliteConnection first(path, 200);
    first.exec("CREATE TABLE T (X INTEGER NOT NULL)");
    SqliteConnection second(dir.path() + QStringLiteral("/./turns.sqlite"), 200);
    SqliteConnection reader(path, 200);

    {
        SqlTransaction tx(first, SqlTransaction::Kind::Write);
        first.exec("INSERT INTO T VALUES (1)");
        QVERIFY_THROWS_EXCEPTION(DatabaseError,
                                 SqlTransaction(second, SqlTransaction::Kind::Write));
        SqlTransaction read(reader, SqlTransaction::Kind::Read);
        SqlStatement count(reader, "SELECT count(*) FROM T");
        QVERIFY(count.step());
        QCOMPARE(count.integer(0), 0);
        tx.commit();
    }
    {
        SqlTransaction tx(second, SqlTransaction::Kind::Write);
        second.exec("INSERT INTO T VALUES (2)");
    } // rolled back
    {
        SqlTransaction tx(first, SqlTransaction::Kind::Write);
        tx.commit();
    }

    // One writer holds the lock; another thread's writer gets it once the first commits.
    std::atomic<bool> committed = false;
    std::atomic<bool> secondSawCommit = false;
    auto holder = std::make_unique<SqliteConnection>(path, 5000);
    holder->begin(SqlConnection::TransactionKind::Write);
    std::thread waiter([&] {
        SqliteConnection mine(path, 5000);
        SqlTransaction tx(mine, SqlTransaction::Kind::Write);
        secondSawCommit = committed.load();
        mine.exec("INSERT INTO T VALUES (3)");
        tx.commit();
    });
    QThread::msleep(50);
    holder->exec("INSERT INTO T VALUES (4)");
    committed = true;
    holder->commit();
    waiter.join();
    QVERIFY(secondSawCommit);

    // A connection closed in the middle of its transaction lets the next writer in.
    holder->begin(SqlConnection::TransactionKind::Write);
    holder.reset();
    SqlTransaction after(first, SqlTransaction::Kind::Write);
    SqlStatement rows(first, "SELECT group_concat(X) FROM (SELECT X FROM T ORDER BY X)");
    QVERIFY(rows.step());
    QCOMPARE(rows.text(0), QStringLiteral("1,3,4"));
}

QTEST_GUILESS_MAIN(TestServerDatabase)
#include "tst_serverdatabase.moc"

// The server's SQLite connection: a worker's commits leave copying the write-ahead log into the
// database to another connection, so that building a big file does not wait for that copy.
#include "sqldb/sqliteconnection.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace fis;

class TestServerDatabase : public QObject
{
    Q_OBJECT

private slots:
    void checkpointLeftToAnotherConnection();
};

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

QTEST_GUILESS_MAIN(TestServerDatabase)
#include "tst_serverdatabase.moc"

// The server as a process: configuration, logging, shutdown, hostile peers, and serving many
// clients and sharing one database with another process.
#include "rpcclient/netconnection.h"
#include "testsupport/paths.h"
#include "testsupport/rawpeer.h"
#include "testsupport/servercalls.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

using namespace fis;
using namespace fis::test;

namespace {

QString serverErrorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RpcError &e) {
        return e.kind() == RpcError::Kind::Server ? e.message() : QStringLiteral("<other kind>");
    }
    return {};
}

} // namespace

class TestServerProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void configFileAndOverrides();
    void badCommandLines();
    void logsEveryCallAndStopsOnSignal();
    void hostilePeersAreCutOff();
    void badCallsOnlyFail();
    void twoClientsAtOnce();
    void twoProcessesOneDatabase();
    void longCallDoesNotHoldOtherClients();

private:
    std::unique_ptr<TestDatabase> m_db;
};

void TestServerProcess::initTestCase()
{
    m_db = std::make_unique<TestDatabase>(3000);
    QVERIFY(m_db->isValid());
}

void TestServerProcess::configFileAndOverrides()
{
    const QString ini = m_db->dirPath() + QStringLiteral("/server.ini");
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[server]\nport=0\nworkers=2\n[database]\npath=" + m_db->path().toUtf8() +
            "\n[export]\noutput_directory=/nonexistent/dir\npage_size=7\n");
    f.close();
    ServerProcess server(
        QString(), QString(),
        {QStringLiteral("--config"), ini, QStringLiteral("--output-dir"), m_db->outputDir()});
    // The fixture passes an empty --database and --output-dir first; the later ones win.
    QVERIFY(server.isRunning());
    auto client = server.connect();
    QCOMPARE(client->call(QStringLiteral("GetDiretorio")).at(0).toText(), QStringLiteral("OK"));
    // page_size from the file: a first page is cut to 7 lines.
    const QString list = client->call(QStringLiteral("GetLista")).toText();
    const QVariantList inv = m_db->rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, CDINSCESTA"
                                                       " FROM NFCOMPRA WHERE CDEMPRESA = '01'"
                                                       " LIMIT 1"))
                                 .first();
    client->call(QStringLiteral("getNotasMarcadas"),
                 {RpcValue::fromPacket(listaPacket(list, {{inv[0].toString(), inv[1].toString()}},
                                                   {inv[2].toString()}))});
    RegistroCall call;
    call.list = list;
    call.registration = inv[2].toString();
    const RegistroPage page = getRegistro(*client, call);
    QCOMPARE(page.lineNumbers.size(), 7);
    QCOMPARE(call.last, 7.0);
}

void TestServerProcess::badCommandLines()
{
    const auto run = [](const QStringList &args) {
        QProcess p;
        p.start(serverBinary(), args);
        p.waitForFinished(15000);
        return p.exitCode();
    };
    QCOMPARE(run({QStringLiteral("--bogus"), QStringLiteral("1")}), 2);
    QCOMPARE(run({QStringLiteral("--output-dir"), m_db->outputDir()}), 2); // no database
    QCOMPARE(run({QStringLiteral("--database"), m_db->path(), QStringLiteral("--output-dir"),
                  m_db->outputDir(), QStringLiteral("--port"), QStringLiteral("70000")}),
             2);
    QCOMPARE(run({QStringLiteral("--database"), m_db->dirPath() + QStringLiteral("/none.sqlite"),
                  QStringLiteral("--output-dir"), m_db->outputDir()}),
             1);
    QCOMPARE(run({QStringLiteral("--config"), m_db->dirPath()}), 2); // a directory
    QCOMPARE(run({QStringLiteral("--help")}), 0);
}

void TestServerProcess::logsEveryCallAndStopsOnSignal()
{
    ServerProcess server(m_db->path(), m_db->outputDir());
    QVERIFY(server.isRunning());
    {
        auto client = server.connect();
        client->call(QStringLiteral("GetLista"));
        serverErrorOf([&] { client->call(QStringLiteral("NoSuchMethod")); });
    }
    QTRY_VERIFY(server.log().contains(QLatin1String("NoSuchMethod")));
    const QString log = server.log();
    QVERIFY2(log.contains(QRegularExpression(
                 QStringLiteral("FIS11000.rdmCompraLEGALBA.GetLista [0-9.]+ ms ok"))),
             qPrintable(log));
    QVERIFY(log.contains(QRegularExpression(QStringLiteral("NoSuchMethod [0-9.]+ ms error: "))));
    QCOMPARE(server.terminate(), 0);
    QVERIFY(server.log().contains(QLatin1String("stopped")));
}

void TestServerProcess::hostilePeersAreCutOff()
{
    ServerProcess server(m_db->path(), m_db->outputDir(),
                         {QStringLiteral("--max-frame-size"), QStringLiteral("65536")});
    QVERIFY(server.isRunning());
    {
        RawPeer peer(server.port()); // a length prefix over the limit
        peer.send(QByteArray::fromHex("7fffffff") + QByteArray(16, 'x'));
        const RpcAnswer answer = decodeAnswer(peer.frame());
        QVERIFY(answer.failed);
        QVERIFY(peer.closedByServer());
    }
    {
        RawPeer peer(server.port()); // a frame that is no CBOR message
        peer.send(frameOf(QByteArray("\xff\xfe garbage", 10)));
        QVERIFY(decodeHelloReply(peer.frame()).ok == false);
        QVERIFY(peer.closedByServer());
    }
    {
        RawPeer peer(server.port()); // a call before the hello
        RpcCall call;
        call.id = 1;
        call.object = QStringLiteral("FIS11000.rdmCompraLEGALBA");
        call.method = QStringLiteral("GetLista");
        peer.send(encodeCall(call));
        QVERIFY(peer.closedByServer());
    }
    {
        RawPeer peer(server.port()); // garbage after a good hello
        peer.hello();
        peer.send(frameOf(QByteArray("\x01\x02\x03", 3)));
        QVERIFY(decodeAnswer(peer.frame()).failed);
        QVERIFY(peer.closedByServer());
    }
    {
        RawPeer peer(server.port()); // a frame cut short, then silence: the peer goes away
        peer.hello();
        peer.send(QByteArray::fromHex("00000100") + QByteArray(10, 'a'));
    }
    // Still serving.
    auto client = server.connect();
    QCOMPARE(client->call(QStringLiteral("GetLista")).toText().size(), 10);
}

void TestServerProcess::badCallsOnlyFail()
{
    ServerProcess server(m_db->path(), m_db->outputDir());
    QVERIFY(server.isRunning());
    auto client = server.connect();
    QVERIFY(!serverErrorOf([&] { client->call(QStringLiteral("GetNada")); }).isEmpty());
    QVERIFY(!serverErrorOf([&] {
                 client->callObject(QStringLiteral("Outro.Objeto"), QStringLiteral("GetLista"), {});
             }).isEmpty());
    QVERIFY(!serverErrorOf([&] { client->call(QStringLiteral("GetLista"), {"x"}); }).isEmpty());
    QVERIFY(
        !serverErrorOf([&] { client->call(QStringLiteral("GetDeletaLista"), {1.0}); }).isEmpty());
    QVERIFY(!serverErrorOf([&] {
                 client->call(QStringLiteral("GetRegistro"), {"a", "b"});
             }).isEmpty());
    // Names match ignoring case, as late-bound calls do; the same connection still serves.
    QCOMPARE(client->call(QStringLiteral("getlista")).toText().size(), 10);
    QCOMPARE(client->isConnected(), true);
}

void TestServerProcess::twoClientsAtOnce()
{
    ServerProcess server(m_db->path(), m_db->outputDir());
    QVERIFY(server.isRunning());
    const QStringList regs = {QStringLiteral("061258473"), QStringLiteral("074369581")};
    struct Result
    {
        QString list;
        QStringList fileLists; // NRLISTA of the file rows built
        qsizetype lines = 0;
        QString error;
    };
    Result results[2];
    std::vector<std::thread> threads;
    const auto keys = [&](const QString &reg) {
        QList<QPair<QString, QString>> out;
        for (const QVariantList &r : m_db->rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM"
                                                               " NFCOMPRA WHERE CDINSCESTA = ?"
                                                               " LIMIT 50"),
                                                {reg}))
            out.append({r[0].toString(), r[1].toString()});
        return out;
    };
    const QList<QPair<QString, QString>> invoices[2] = {keys(regs[0]), keys(regs[1])};
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            try {
                NetConnection c;
                c.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
                c.setHost(QStringLiteral("127.0.0.1"));
                c.setPort(server.port());
                useTestClient(c);
                c.open();
                for (int round = 0; round < 5; ++round) {
                    const QString list = c.call(QStringLiteral("GetLista")).toText();
                    c.call(QStringLiteral("getNotasMarcadas"),
                           {RpcValue::fromPacket(
                               listaPacket(list, invoices[t], QStringList(50, regs[t])))});
                    RegistroCall call;
                    call.list = list;
                    call.registration = regs[t];
                    results[t].lines += fetchFile(c, call).size();
                    results[t].list += list + u' ';
                }
            } catch (const std::exception &e) {
                results[t].error = QString::fromUtf8(e.what());
            }
        });
    for (std::thread &t : threads)
        t.join();
    QVERIFY2(results[0].error.isEmpty(), qPrintable(results[0].error));
    QVERIFY2(results[1].error.isEmpty(), qPrintable(results[1].error));
    const QStringList a = results[0].list.split(u' ', Qt::SkipEmptyParts);
    const QStringList b = results[1].list.split(u' ', Qt::SkipEmptyParts);
    QCOMPARE(a.size(), 5);
    QCOMPARE(b.size(), 5);
    for (const QString &n : a)
        QVERIFY(!b.contains(n));
    // Each list holds exactly its own client's file.
    for (int t = 0; t < 2; ++t)
        for (const QString &list : t == 0 ? a : b)
            QCOMPARE(m_db->rows(QStringLiteral("SELECT CDINSCESTA FROM ARQCOMPRALEG WHERE"
                                               " NRLISTA = ?"),
                                {list}),
                     (QList<QVariantList>{{regs[t]}}));
    QVERIFY(results[0].lines > 50 && results[1].lines > 50);
}

void TestServerProcess::twoProcessesOneDatabase()
{
    ServerProcess one(m_db->path(), m_db->outputDir());
    ServerProcess two(m_db->path(), m_db->outputDir());
    QVERIFY(one.isRunning() && two.isRunning());
    QStringList got[4];
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            NetConnection c;
            c.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
            c.setHost(QStringLiteral("127.0.0.1"));
            c.setPort(t % 2 ? one.port() : two.port());
            useTestClient(c);
            try {
                c.open();
                for (int i = 0; i < 25; ++i)
                    got[t] << c.call(QStringLiteral("GetLista")).toText();
            } catch (const std::exception &) {
            }
        });
    for (std::thread &t : threads)
        t.join();
    QSet<QString> all;
    for (const QStringList &g : got) {
        QCOMPARE(g.size(), 25);
        for (const QString &n : g)
            all.insert(n);
    }
    QCOMPARE(all.size(), 100);
}

// A first GetRegistro that builds many lines runs on one worker; another client's calls go on.
void TestServerProcess::longCallDoesNotHoldOtherClients()
{
    TestDatabase big(60000, 3);
    QVERIFY(big.isValid());
    ServerProcess server(big.path(), big.outputDir(),
                         {QStringLiteral("--workers"), QStringLiteral("2")});
    QVERIFY(server.isRunning());
    auto quick = server.connect();
    QList<QPair<QString, QString>> invoices;
    for (const QVariantList &r : big.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM"
                                                         " NFCOMPRA WHERE CDFILIAL = '0001'")))
        invoices.append({r[0].toString(), r[1].toString()});
    std::atomic<bool> building{false};
    std::atomic<bool> slowDone{false};
    QString slowStatus;
    // A client connection belongs to the thread that uses it.
    std::thread worker([&] {
        try {
            NetConnection slow;
            slow.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
            slow.setHost(QStringLiteral("127.0.0.1"));
            slow.setPort(server.port());
            useTestClient(slow);
            slow.open();
            RegistroCall call;
            call.list = slow.call(QStringLiteral("GetLista")).toText();
            call.registration = QStringLiteral("052147836");
            slow.call(QStringLiteral("getNotasMarcadas"),
                      {RpcValue::fromPacket(listaPacket(
                          call.list, invoices, QStringList(invoices.size(), call.registration)))});
            building = true;
            slowStatus = getRegistro(slow, call).status;
        } catch (const std::exception &e) {
            slowStatus = QString::fromUtf8(e.what());
        }
        building = true;
        slowDone = true;
    });
    while (!building)
        QThread::msleep(5);
    QThread::msleep(50);
    qint64 quickCallsWhileSlow = 0;
    quick->setCallTimeout(30000);
    while (!slowDone) {
        const QString error = serverErrorOf([&] { quick->call(QStringLiteral("GetDiretorio")); });
        if (!error.isEmpty()) {
            worker.join();
            QFAIL(qPrintable(error + u'\n' + server.log()));
        }
        if (!slowDone)
            ++quickCallsWhileSlow;
    }
    worker.join();
    QCOMPARE(slowStatus, QStringLiteral("OK"));
    QVERIFY2(quickCallsWhileSlow > 0, "the other client waited for the long call");
}

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"

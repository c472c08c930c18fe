// The server process against clients that try to exhaust it: stalled and oversized frames, a
// log line forged by a method name, a burst beyond its connection limits, running out of file
// descriptors, and every worker in a long call when a new client comes.
#include "rpcclient/netconnection.h"
#include "testsupport/paths.h"
#include "testsupport/rawpeer.h"
#include "testsupport/servercalls.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testcerts.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace fis;
using namespace fis::test;

namespace {

// The server's CPU time so far, in ms, from /proc.
qint64 cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

int openDescriptors(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot).size());
}

} // namespace

class TestServerHardening : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void stalledFramesAreDroppedAndOversizedOnesRefused();
    void aMethodNameCannotForgeLogLines();
    void connectionLimitsAnswerAndRelease();
    void outOfDescriptorsBacksOffAndRecovers();
    void aNewClientIsServedWhileEveryWorkerIsInACall();
    void onlyClientsThatProveTheirSecretGetIn();
    void clientsAreConfiguredOrTheServerStaysLocal();
    void tlsServesOnlyClientsThatTrustItsCertificate();

private:
    std::unique_ptr<TestDatabase> m_db;
};

void TestServerHardening::initTestCase()
{
    m_db = std::make_unique<TestDatabase>(200, 3);
    QVERIFY(m_db->isValid());
}

void TestServerHardening::stalledFramesAreDroppedAndOversizedOnesRefused()
{
    ServerProcess server(m_db->path(), m_db->outputDir(),
                         {QStringLiteral("--frame-timeout"), QStringLiteral("3"),
                          QStringLiteral("--max-pending-bytes"), QStringLiteral("16777216")});
    QVERIFY(server.isRunning());
    {
        // Over the request limit (64 MiB by default): refused on its prefix.
        RawPeer peer(server.port());
        peer.hello();
        peer.send(FrameReader::prefix(100 << 20) + QByteArray(64, 'x'));
        const RpcAnswer answer = decodeAnswer(peer.frame());
        QVERIFY(answer.failed);
        QVERIFY2(answer.error.contains(u"67108864"), qPrintable(answer.error));
        QVERIFY(peer.closedByServer());
    }
    const qint64 before = residentKb(server.pid());
    std::vector<std::unique_ptr<RawPeer>> stalled;
    for (int i = 0; i < 4; ++i) {
        // 60 MB declared, up to 16 MB sent, then nothing.
        auto peer = std::make_unique<RawPeer>(server.port());
        peer->hello();
        peer->sendFor(FrameReader::prefix(60 << 20) + QByteArray(16 << 20, char('a' + i)), 300);
        stalled.push_back(std::move(peer));
    }
    // All of them together may hold 16 MB of partial frames (and a MB each in the socket),
    // not the 64 MB they tried; a small call still goes through meanwhile.
    QTRY_VERIFY2(server.log().contains(u"reading paused: requests not yet whole hold"),
                 qPrintable(server.log()));
    const qint64 during = residentKb(server.pid());
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's shadow of each 60 MB reservation and its quarantine come on top.
    constexpr qint64 kMostGrowthKb = 80 * 1024;
#else
    constexpr qint64 kMostGrowthKb = 32 * 1024;
#endif
    QVERIFY2(during - before < kMostGrowthKb,
             qPrintable(QStringLiteral("%1 -> %2 kB").arg(before).arg(during)));
    {
        auto client = server.connect();
        QCOMPARE(client->call(QStringLiteral("GetLista")).toText().size(), 10);
    }
    QElapsedTimer clock;
    clock.start();
    for (auto &peer : stalled)
        QVERIFY(peer->closedByServer(8000));
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server.log().count(QStringLiteral("a frame did not arrive whole in time")), 4);
    auto client = server.connect();
    QCOMPARE(client->call(QStringLiteral("GetLista")).toText().size(), 10);
}

void TestServerHardening::aMethodNameCannotForgeLogLines()
{
    ServerProcess server(m_db->path(), m_db->outputDir());
    QVERIFY(server.isRunning());
    auto client = server.connect();
    const QString forged = QStringLiteral("X 0.1 ms ok\n6.6.6.6:1 connected on worker-1\n6.6.6.6:1 "
                                          "FIS11000.rdmCompraLEGALBA.GetDeletaLista 0.2 ms ok\r") +
                           QChar(0) + QStringLiteral("\x1b[2J");
    QVERIFY_THROWS_EXCEPTION(RpcError, client->call(forged));
    QCOMPARE(client->call(QStringLiteral("GetLista")).toText().size(), 10);
    QTRY_VERIFY(server.log().contains(u".GetLista "));
    const QStringList lines = server.log().split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        QVERIFY2(!line.startsWith(u"6.6.6.6"), qPrintable(line));
        QVERIFY2(!line.contains(u'\r') && !line.contains(QChar(0)) && !line.contains(u'\x1b'),
                 qPrintable(line));
    }
    const auto forgedLine = std::find_if(
        lines.begin(), lines.end(), [](const QString &l) { return l.contains(u"X 0.1 ms ok"); });
    QVERIFY(forgedLine != lines.end());
    QVERIFY2(forgedLine->contains(u"\\n6.6.6.6:1 connected") && forgedLine->contains(u"\\r\\x00") &&
                 forgedLine->contains(u" ms error: "),
             qPrintable(*forgedLine));
}

void TestServerHardening::connectionLimitsAnswerAndRelease()
{
    ServerProcess server(m_db->path(), m_db->outputDir(),
                         {QStringLiteral("--max-connections-per-address"), QStringLiteral("3")});
    QVERIFY(server.isRunning());
    std::vector<std::unique_ptr<NetConnection>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(server.connect());
    QString refusal;
    try {
        server.connect();
    } catch (const RpcError &e) {
        refusal = e.message();
    }
    QVERIFY2(refusal.contains(u"máximo de 3 conexões"), qPrintable(refusal));
    // The three still work; once one goes, a new one is let in.
    for (auto &c : clients)
        QCOMPARE(c->call(QStringLiteral("GetLista")).toText().size(), 10);
    clients.back()->close();
    clients.pop_back();
    QString lastError;
    QElapsedTimer clock;
    clock.start();
    while (clients.size() < 3 && clock.elapsed() < 5000) {
        try {
            clients.push_back(server.connect());
        } catch (const RpcError &e) {
            lastError = e.message();
            QThread::msleep(50);
        }
    }
    QVERIFY2(clients.size() == 3, qPrintable(lastError + u'\n' + server.log()));
    QCOMPARE(clients.back()->call(QStringLiteral("GetLista")).toText().size(), 10);
    QVERIFY(server.log().contains(u"refused"));
}

void TestServerHardening::outOfDescriptorsBacksOffAndRecovers()
{
    ServerProcess server(m_db->path(), m_db->outputDir());
    QVERIFY(server.isRunning());
    // Room for a few clients only.
    const int inUse = openDescriptors(server.pid());
    QVERIFY(inUse > 0);
    rlimit previous{};
    QCOMPARE(::prlimit(pid_t(server.pid()), RLIMIT_NOFILE, nullptr, &previous), 0);
    const rlimit limit{rlim_t(inUse + 4), previous.rlim_max};
    QCOMPARE(::prlimit(pid_t(server.pid()), RLIMIT_NOFILE, &limit, nullptr), 0);
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 40; ++i)
        peers.push_back(std::make_unique<RawPeer>(server.port()));
    QThread::msleep(500);
    const qint64 cpuBefore = cpuMs(server.pid());
    QThread::msleep(2000);
    const qint64 spent = cpuMs(server.pid()) - cpuBefore;
    QVERIFY2(spent < 300, qPrintable(QStringLiteral("%1 ms of CPU in 2 s").arg(spent)));
    QTRY_VERIFY2(server.log().count(u"cannot accept clients") == 1, qPrintable(server.log()));
    // The descriptors come back: the server accepts again by itself.
    peers.clear();
    QCOMPARE(::prlimit(pid_t(server.pid()), RLIMIT_NOFILE, &previous, nullptr), 0);
    std::unique_ptr<NetConnection> client;
    QElapsedTimer clock;
    clock.start();
    while (!client && clock.elapsed() < 10000) {
        try {
            client = server.connect();
        } catch (const RpcError &) {
            QThread::msleep(100);
        }
    }
    QVERIFY2(client, qPrintable(server.log()));
    QCOMPARE(client->call(QStringLiteral("GetLista")).toText().size(), 10);
    QVERIFY(server.log().contains(u"accepting clients again"));
    QCOMPARE(server.log().count(u"cannot accept clients"), 1);
}

void TestServerHardening::aNewClientIsServedWhileEveryWorkerIsInACall()
{
    TestDatabase big(60000, 3);
    QVERIFY(big.isValid());
    ServerProcess server(big.path(), big.outputDir(),
                         {QStringLiteral("--workers"), QStringLiteral("1")});
    QVERIFY(server.isRunning());
    QList<QPair<QString, QString>> invoices;
    for (const QVariantList &r : big.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM"
                                                         " NFCOMPRA WHERE CDFILIAL = '0001'")))
        invoices.append({r[0].toString(), r[1].toString()});
    std::atomic<bool> building{false};
    std::atomic<bool> slowDone{false};
    QString slowStatus;
    std::thread slowClient([&] {
        try {
            auto slow = server.connect();
            RegistroCall call;
            call.list = slow->call(QStringLiteral("GetLista")).toText();
            call.registration = QStringLiteral("052147836");
            slow->call(QStringLiteral("getNotasMarcadas"),
                       {RpcValue::fromPacket(listaPacket(
                           call.list, invoices, QStringList(invoices.size(), call.registration)))});
            building = true;
            slowStatus = getRegistro(*slow, call).status;
        } catch (const std::exception &e) {
            slowStatus = QString::fromUtf8(e.what());
        }
        building = true;
        slowDone = true;
    });
    while (!building)
        QThread::msleep(5);
    QThread::msleep(200);
    // Connected only now, with the one worker in the long call.
    bool servedDuring = false;
    QString error;
    try {
        auto fresh = server.connect();
        fresh->call(QStringLiteral("GetDiretorio"));
        servedDuring = !slowDone;
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    slowClient.join();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(slowStatus, QStringLiteral("OK"));
    QVERIFY2(servedDuring, "the new client waited for the long call");
    QVERIFY2(server.log().contains(u"every worker is in a call; started worker-2"),
             qPrintable(server.log()));
}

void TestServerHardening::onlyClientsThatProveTheirSecretGetIn()
{
    ServerProcess server(m_db->path(), m_db->outputDir());
    QVERIFY(server.isRunning());
    const auto refusal = [&](const QString &client, const QByteArray &secret) {
        NetConnection c;
        c.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
        c.setHost(QStringLiteral("127.0.0.1"));
        c.setPort(server.port());
        if (!client.isEmpty())
            c.setCredentials(client, secret);
        try {
            c.open();
            c.call(QStringLiteral("GetLista"));
        } catch (const RpcError &e) {
            return e.kind() == RpcError::Kind::Handshake ? e.message() : QStringLiteral("<other>");
        }
        return QString();
    };
    QVERIFY(refusal({}, {}).contains(u"só atende clientes cadastrados"));
    QVERIFY(refusal(testClientName(), "not the secret").contains(u"Cliente ou segredo"));
    QVERIFY(refusal(QStringLiteral("intruso"), testSecret()).contains(u"Cliente ou segredo"));
    // The test client gets in. Its connection stays open while the lists are counted: the
    // server drops a client's lists once its session ends.
    auto accepted = server.connect();
    QCOMPARE(accepted->call(QStringLiteral("GetLista")).toText().size(), 10);
    QCOMPARE(m_db->value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEG")).toInt() >= 1, true);
    const QString log = server.log();
    QCOMPARE(log.count(u"refused: "), 3);
    QVERIFY(log.contains(u"refused: client \"intruso\" did not prove its secret"));
    QVERIFY(!log.contains(QString::fromUtf8(testSecret())) && !log.contains(u"not the secret"));
    QVERIFY(log.contains(testClientName() + u"@127.0.0.1:"));
    QCOMPARE(log.count(u".GetLista "), 1);
}

void TestServerHardening::clientsAreConfiguredOrTheServerStaysLocal()
{
    const auto run = [&](const QStringList &args, QString *err = nullptr) {
        QProcess p;
        p.start(serverBinary(), QStringList{QStringLiteral("--database"), m_db->path(),
                                            QStringLiteral("--output-dir"), m_db->outputDir(),
                                            QStringLiteral("--port"), QStringLiteral("0")} +
                                    args);
        p.waitForFinished(3000);
        const int code = p.state() == QProcess::NotRunning ? p.exitCode() : -1;
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        p.kill();
        p.waitForFinished(3000);
        return code;
    };
    QString err;
    // Anyone may call on loopback only (the first line is the error, the usage follows).
    QCOMPARE(run({QStringLiteral("--address"), QStringLiteral("0.0.0.0"),
                  QStringLiteral("--tls-required"), QStringLiteral("no")},
                 &err),
             2);
    QVERIFY2(err.section(u'\n', 0, 0).contains(u"--clients-file"), qPrintable(err));
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.ini"));
    {
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[clients]\ncaixa-01 = plain-secret\n");
    }
    QCOMPARE(run({QStringLiteral("--clients-file"), bad}, &err), 2);
    QVERIFY2(err.section(u'\n', 0, 0).contains(u"--hash-secret"), qPrintable(err));
    // Another address with clients is accepted (the server keeps running).
    QCOMPARE(run({QStringLiteral("--address"), QStringLiteral("0.0.0.0"),
                  QStringLiteral("--clients-file"), testClientsFile(),
                  QStringLiteral("--tls-required"), QStringLiteral("no")}),
             -1);
    // The verifier printed for a secret lets that secret in.
    QProcess hash;
    hash.start(serverBinary(), {QStringLiteral("--hash-secret"), QStringLiteral("4096")});
    hash.write("outro segredo\n");
    hash.closeWriteChannel();
    QVERIFY(hash.waitForFinished(10000));
    const QString verifier = QString::fromUtf8(hash.readAllStandardOutput()).trimmed();
    QVERIFY2(verifier.startsWith(u"scram-sha-256:4096:"), qPrintable(verifier));
    QVERIFY(!verifier.contains(u"outro segredo"));
    const QString good = dir.filePath(QStringLiteral("good.ini"));
    {
        QFile f(good);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("[clients]\ncaixa-02 = " + verifier + "\n").toUtf8());
    }
    ServerProcess server(m_db->path(), m_db->outputDir(), {QStringLiteral("--clients-file"), good},
                         ServerProcess::Clients::Anyone);
    QVERIFY(server.isRunning());
    NetConnection c;
    c.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(server.port());
    c.setCredentials(QStringLiteral("caixa-02"), "outro segredo");
    c.open();
    QCOMPARE(c.call(QStringLiteral("GetLista")).toText().size(), 10);
}

void TestServerHardening::tlsServesOnlyClientsThatTrustItsCertificate()
{
    const TestCertificates &certs = testCertificates();
    QVERIFY(certs.ok);
    ServerProcess server(m_db->path(), m_db->outputDir(),
                         {QStringLiteral("--tls-certificate"), certs.serverCertificate,
                          QStringLiteral("--tls-key"), certs.serverKey});
    QVERIFY(server.isRunning());
    const auto attempt = [&](const NetConnection::Tls &tls, QString *error) {
        NetConnection c;
        c.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
        c.setHost(QStringLiteral("127.0.0.1"));
        c.setPort(server.port());
        c.setConnectTimeout(5000);
        c.setTls(tls);
        useTestClient(c);
        try {
            c.open();
            return c.call(QStringLiteral("GetLista")).toText().size() == 10;
        } catch (const RpcError &e) {
            *error = e.message();
            return false;
        }
    };
    QString error;
    // The right CA, or the certificate's own fingerprint: served.
    QVERIFY2(attempt({true, certs.ca, {}}, &error), qPrintable(error));
    QVERIFY2(attempt({true, {}, certs.fingerprint}, &error), qPrintable(error));
    // Another CA, or another fingerprint: refused before the hello.
    QVERIFY(!attempt({true, certs.otherCa, {}}, &error));
    QVERIFY2(error.contains(u"conexão segura"), qPrintable(error));
    QString otherPin = certs.fingerprint;
    otherPin[0] = otherPin[0] == u'0' ? u'1' : u'0';
    QVERIFY(!attempt({true, {}, otherPin}, &error));
    QVERIFY2(error.contains(u"impressão digital"), qPrintable(error));
    // A plain client gets nothing it can read, and the server logs why.
    QVERIFY(!attempt({}, &error));
    QTRY_VERIFY(server.log().contains(u"TLS handshake failed"));
    QCOMPARE(server.log().count(u".GetLista "), 2);
    // A remote address needs TLS unless told otherwise.
    QProcess plain;
    plain.start(serverBinary(),
                {QStringLiteral("--database"), m_db->path(), QStringLiteral("--output-dir"),
                 m_db->outputDir(), QStringLiteral("--address"), QStringLiteral("0.0.0.0"),
                 QStringLiteral("--clients-file"), testClientsFile()});
    QVERIFY(plain.waitForFinished(10000));
    QCOMPARE(plain.exitCode(), 2);
    const QString plainError = QString::fromUtf8(plain.readAllStandardError());
    QVERIFY2(plainError.section(u'\n', 0, 0).contains(u"--tls-certificate"),
             qPrintable(plainError));
}

QTEST_GUILESS_MAIN(TestServerHardening)
#include "tst_serverhardening.moc"

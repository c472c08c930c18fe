#include "rpc/clientauth.h"
#include "rpc/framereader.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"
#include "rpcclient/netconnection.h"
#include "rpcserver/rpcserver.h"
#include "rpctesthelpers.h"

#include <QCborStreamWriter>
#include <QElapsedTimer>
#include <QMutex>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

using namespace fis;
using fis::test::expected;
using fis::test::thrown;

namespace {

const QString kObject = QStringLiteral("FIS11000.rdmCompraLEGALBA");

void registerTestMethods(RpcServer &server)
{
    server.registerMethod(kObject, QStringLiteral("Echo"), [](RpcArgs &a) { return a.at(0); });
    // Shaped like GetRegistro's by-reference arguments: name, continuation, page bounds.
    server.registerMethod(kObject, QStringLiteral("NextPage"), [](RpcArgs &a) {
        a.expectCount(5);
        a.set(0, a.text(0) + QStringLiteral("_0001"));
        a.set(1, QStringLiteral("after ") + a.text(1));
        a.set(2, a.number(2) + 50000);
        a.set(3, RpcValue::fromAutomationDate(a.date(3) + 1));
        a.set(4, RpcValue::fromPacket("lines"));
        return RpcValue(QList<RpcValue>{"OK", a.text(1)});
    });
    server.registerMethod(kObject, QStringLiteral("Typed"), [](RpcArgs &a) {
        a.expectCount(3);
        return RpcValue(a.text(0) + QString::number(a.date(1)) + QString::number(a.number(2)));
    });
    server.registerMethod(kObject, QStringLiteral("Fail"), [](RpcArgs &) -> RpcValue {
        throw RpcError(QStringLiteral("Diretório inválido para baixar arquivo."));
    });
    server.registerMethod(kObject, QStringLiteral("FailPlainly"),
                          [](RpcArgs &) -> RpcValue { throw std::runtime_error("disk full"); });
    server.registerMethod(kObject, QStringLiteral("SetDateInto"), [](RpcArgs &a) {
        a.set(0, RpcValue::fromAutomationDate(1));
        return RpcValue();
    });
    server.registerMethod(kObject, QStringLiteral("getNotasMarcadas"),
                          [](RpcArgs &a) { return RpcValue::fromPacket(a.packet(0)); });
    server.registerMethod(kObject, QStringLiteral("WhoAmI"),
                          [](RpcArgs &a) { return RpcValue(a.session()); });
}

// The client every test server knows unless it lets anyone in.
const QString kClient = QStringLiteral("caixa-01");
const QByteArray kSecret = QByteArrayLiteral("s3gredo");

std::shared_ptr<ClientRegistry> registryOf(const QString &name, const QByteArray &secret)
{
    auto clients = std::make_shared<ClientRegistry>();
    clients->add(name, ClientVerifier::fromSecret(secret, kMinSecretIterations));
    return clients;
}

// Who a test server lets in: the test client proving its secret, or anyone (for the tests that
// speak the frames by hand after a plain hello).
enum class Access { TestClient, Anyone };

// A real RpcServer in its own thread: a blocking call from the test thread would otherwise wait
// for an answer that the same thread has to produce.
class ServerThread : public QThread
{
public:
    explicit ServerThread(std::function<void(RpcServer &)> configure = {},
                          Access access = Access::TestClient)
        : m_configure(std::move(configure))
        , m_access(access)
    {
        start();
        m_ready.acquire();
    }
    ~ServerThread() override
    {
        quit();
        wait();
    }

    quint16 port() const { return m_port; }
    QStringList log() const
    {
        QMutexLocker lock(&m_mutex);
        return m_log;
    }

protected:
    void run() override
    {
        RpcServer server;
        registerTestMethods(server);
        if (m_access == Access::TestClient)
            server.setClients(registryOf(kClient, kSecret));
        server.setCallLogger([this](const RpcCallRecord &r) {
            QMutexLocker lock(&m_mutex);
            m_log << r.toLogLine();
        });
        if (m_configure)
            m_configure(server);
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        m_ready.release();
        exec();
    }

private:
    std::function<void(RpcServer &)> m_configure;
    Access m_access;
    QSemaphore m_ready;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QStringList m_log;
};

QByteArray readFrameBlocking(QTcpSocket &socket, int msecs = 5000)
{
    FrameReader reader;
    while (!reader.hasFrame()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(msecs))
            return {};
        reader.feed(socket.readAll());
    }
    return reader.takeFrame();
}

void writeBlocking(QTcpSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(5000)) {
    }
}

// A server for the answers a real one never gives. It takes one client, runs the script on it
// with blocking socket calls, then waits for the client to go.
class ScriptedServer : public QThread
{
public:
    using Script = std::function<void(QTcpSocket &)>;
    explicit ScriptedServer(Script script)
        : m_script(std::move(script))
    {
        start();
        m_ready.acquire();
    }
    ~ScriptedServer() override { wait(); }
    quint16 port() const { return m_port; }

    // Answers the hello as a real server does.
    static void greet(QTcpSocket &s)
    {
        readFrameBlocking(s);
        writeBlocking(s, encodeHelloReply(RpcHelloReply()));
    }

protected:
    void run() override
    {
        QTcpServer tcp;
        tcp.listen(QHostAddress::LocalHost, 0);
        m_port = tcp.serverPort();
        m_ready.release();
        if (!tcp.waitForNewConnection(10000))
            return;
        std::unique_ptr<QTcpSocket> socket(tcp.nextPendingConnection());
        m_script(*socket);
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->waitForDisconnected(10000);
    }

private:
    Script m_script;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

std::unique_ptr<NetConnection> openConnection(quint16 port)
{
    auto c = std::make_unique<NetConnection>();
    c->setServerName(kObject);
    c->setHost(QStringLiteral("127.0.0.1"));
    c->setPort(port);
    c->setCredentials(kClient, kSecret);
    c->open();
    return c;
}

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestRpcClientServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void everyKindComesBackAsSent_data();
    void everyKindComesBackAsSent();
    void byReferenceArgumentsReachTheCallersVariables();
    void beforeConnectSuppliesHostAndPort();
    void serverErrorsReachTheCallerAndKeepTheConnection();
    void unknownNamesAndBadArgumentsAreAnswered();
    void aByRefOfTheWrongKindChangesNothing();
    void callLogHasOneLinePerCall();

    void hostileClientsDoNotDisturbOthers_data();
    void hostileClientsDoNotDisturbOthers();
    void idleClientsAreClosedAndTheNextCallReconnects();
    void aSessionOutlivesItsConnections();
    void helloSessionKeys_data();
    void helloSessionKeys();
    void sizeLimitsHoldOnBothSides();
    void clientTextIsEscapedAndCutInLogsAndErrors();
    void helloExtraKeysMayHoldAnyValue();
    void aTrickleMovesNoDeadline_data();
    void aTrickleMovesNoDeadline();
    void unreadAnswersStopTheReading();
    void clientsProveTheirSecret_data();
    void clientsProveTheirSecret();
    void aProofIsGoodForOneConnectionOnly();
    void aServerWithoutTheVerifierIsRefused();

    void refusedConnectionFails();
    void silentHelloTimesOut();
    void silentServerTimesOutAndClosesTheConnection();
    void droppedConnectionFailsPromptly_data();
    void droppedConnectionFailsPromptly();
    void unreadableAnswersCloseTheConnection_data();
    void unreadableAnswersCloseTheConnection();
    void refusedHelloIsAHandshakeError();
    void stoppedServerIsNoticed();

private:
    std::unique_ptr<ServerThread> m_server;
};

void TestRpcClientServer::initTestCase()
{
    m_server = std::make_unique<ServerThread>();
    QVERIFY(m_server->port() != 0);
}

void TestRpcClientServer::everyKindComesBackAsSent_data()
{
    QTest::addColumn<RpcValue>("value");
    QByteArray bigPacket(3 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < bigPacket.size(); ++i)
        bigPacket[i] = char(i * 7919 % 251);
    QTest::newRow("null") << RpcValue();
    QTest::newRow("bool") << RpcValue(true);
    QTest::newRow("integer") << RpcValue(42);
    QTest::newRow("double") << RpcValue(1234.5678);
    QTest::newRow("text") << RpcValue(QStringLiteral("Razão Social Ltda."));
    QTest::newRow("date") << RpcValue(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)));
    QTest::newRow("packet over many reads") << RpcValue::fromPacket(bigPacket);
    QTest::newRow("nested array") << RpcValue(
        QList<RpcValue>{"OK", RpcValue::fromPacket("t"), QList<RpcValue>{1.5}});
}

void TestRpcClientServer::everyKindComesBackAsSent()
{
    QFETCH(RpcValue, value);
    auto c = openConnection(m_server->port());
    const RpcValue back = c->appServer().call(QStringLiteral("Echo"), {value});
    QCOMPARE(back.kind(), value.kind());
    QVERIFY2(back == value, qPrintable(back.toDiagnostic()));
}

void TestRpcClientServer::byReferenceArgumentsReachTheCallersVariables()
{
    auto c = openConnection(m_server->port());
    QString name = QStringLiteral("COMPRA");
    const QString continuation = QStringLiteral("page 1");
    double first = 0;
    QDateTime day(QDate(2024, 1, 31), QTime(0, 0));
    RpcValue lines;
    const RpcValue result =
        c->call(QStringLiteral("NextPage"),
                {byRef(name), continuation, byRef(first), byRef(day), byRef(lines)});
    QCOMPARE(name, QStringLiteral("COMPRA_0001"));
    QCOMPARE(first, 50000.0);
    QCOMPARE(day, QDateTime(QDate(2024, 2, 1), QTime(0, 0)));
    QVERIFY(lines == RpcValue::fromPacket("lines"));
    // By value: the server changed its copy only.
    QCOMPARE(continuation, QStringLiteral("page 1"));
    QCOMPARE(result.at(1).toText(), QStringLiteral("after page 1"));

    // The next page goes on from what the server left.
    c->call(QStringLiteral("NextPage"),
            {byRef(name), continuation, byRef(first), byRef(day), byRef(lines)});
    QCOMPARE(name, QStringLiteral("COMPRA_0001_0001"));
    QCOMPARE(first, 100000.0);
}

void TestRpcClientServer::beforeConnectSuppliesHostAndPort()
{
    NetConnection c;
    c.setServerName(kObject);
    int connects = 0;
    connect(&c, &NetConnection::beforeConnect, this, [&](NetConnection *sender) {
        ++connects;
        sender->setPort(m_server->port());
        sender->setHost(QStringLiteral("127.0.0.1"));
        sender->setCredentials(kClient, kSecret);
    });
    c.setConnected(true);
    QVERIFY(c.isConnected());
    QCOMPARE(connects, 1);
    QCOMPARE(c.call(QStringLiteral("Echo"), {"x"}).toText(), QStringLiteral("x"));
    c.open();
    QCOMPARE(connects, 1);
    c.setConnected(false);
    QVERIFY(!c.isConnected());
    QCOMPARE(thrown([&] { c.call(QStringLiteral("Echo"), {"x"}); }),
             expected(RpcError::Kind::NotConnected));

    NetConnection nowhere;
    QString message;
    QCOMPARE(thrown([&] { nowhere.open(); }, &message), expected(RpcError::Kind::ConnectFailed));
    QVERIFY2(message.contains(u"host"), qPrintable(message));
    QVERIFY(!nowhere.isConnected());
}

void TestRpcClientServer::serverErrorsReachTheCallerAndKeepTheConnection()
{
    auto c = openConnection(m_server->port());
    QString message;
    QCOMPARE(thrown([&] { c->call(QStringLiteral("Fail")); }, &message),
             expected(RpcError::Kind::Server));
    QCOMPARE(message, QStringLiteral("Diretório inválido para baixar arquivo."));
    QCOMPARE(thrown([&] { c->call(QStringLiteral("FailPlainly")); }, &message),
             expected(RpcError::Kind::Server));
    QCOMPARE(message, QStringLiteral("disk full"));
    QVERIFY(c->isConnected());
    QCOMPARE(c->call(QStringLiteral("Echo"), {"still here"}).toText(),
             QStringLiteral("still here"));
}

void TestRpcClientServer::unknownNamesAndBadArgumentsAreAnswered()
{
    auto c = openConnection(m_server->port());
    QString message;
    QCOMPARE(
        thrown([&] { c->callObject(QStringLiteral("FIS99999.rdmNada"), "Echo", {1}); }, &message),
        expected(RpcError::Kind::Server));
    QVERIFY2(message.contains(u"FIS99999.rdmNada"), qPrintable(message));
    QCOMPARE(thrown([&] { c->call(QStringLiteral("GetNada")); }, &message),
             expected(RpcError::Kind::Server));
    QVERIFY2(message.contains(u"GetNada"), qPrintable(message));

    QCOMPARE(thrown(
                 [&] {
                     c->call(QStringLiteral("Typed"), {"a", RpcValue::fromAutomationDate(1)});
                 },
                 &message),
             expected(RpcError::Kind::Server));
    QCOMPARE(message, QStringLiteral("Typed recebe 3 argumentos, não 2."));
    QCOMPARE(thrown(
                 [&] {
                     c->call(QStringLiteral("Typed"), {"a", "2024-01-31", 1.0});
                 },
                 &message),
             expected(RpcError::Kind::Server));
    QCOMPARE(message, QStringLiteral("O argumento 2 de Typed deve ser uma data, não texto."));
    QCOMPARE(c->call(QStringLiteral("Typed"), {"a", RpcValue::fromAutomationDate(2), 3.0}).toText(),
             QStringLiteral("a23"));

    // Late-bound names ignore letter case, as the host's calls do.
    const RpcValue packet = RpcValue::fromPacket("marcadas");
    QVERIFY(c->call(QStringLiteral("GetNotasMarcadas"), {packet}) == packet);
}

void TestRpcClientServer::aByRefOfTheWrongKindChangesNothing()
{
    auto c = openConnection(m_server->port());
    QString text = QStringLiteral("keep");
    QCOMPARE(thrown([&] { c->call(QStringLiteral("SetDateInto"), {byRef(text)}); }),
             expected(RpcError::Kind::BadValue));
    QCOMPARE(text, QStringLiteral("keep"));
    QVERIFY(c->isConnected());
    RpcValue any;
    c->call(QStringLiteral("SetDateInto"), {byRef(any)});
    QVERIFY(any.isDate());
}

void TestRpcClientServer::callLogHasOneLinePerCall()
{
    ServerThread server;
    auto c = openConnection(server.port());
    c->call(QStringLiteral("Echo"), {1});
    QVERIFY_THROWS_EXCEPTION(RpcError, c->call(QStringLiteral("Fail")));
    QTRY_COMPARE(server.log().size(), 2);
    const QStringList log = server.log();
    QVERIFY2(log.at(0).contains(kObject + QStringLiteral(".Echo")) && log.at(0).endsWith(u" ok"),
             qPrintable(log.at(0)));
    QVERIFY2(log.at(1).contains(u".Fail ") &&
                 log.at(1).endsWith(u"error: Diretório inválido para baixar arquivo."),
             qPrintable(log.at(1)));
    // The peer is the client that proved its secret, at its address.
    QVERIFY2(log.at(0).startsWith(kClient + u"@127.0.0.1:"), qPrintable(log.at(0)));
}

void TestRpcClientServer::hostileClientsDoNotDisturbOthers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("serverCloses");
    const QByteArray hello = encodeHello(RpcHello());
    QTest::newRow("HTTP request") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << true;
    QTest::newRow("largest length") << QByteArray("\xff\xff\xff\xff", 4) << true;
    QTest::newRow("garbage body") << QByteArray("\0\0\0\x04\xff\xfe\xfd\xfc", 8) << true;
    QTest::newRow("call before hello") << encodeCall(RpcCall()) << true;
    QTest::newRow("wrong version")
        << encodeHello(RpcHello{QStringLiteral("fis-rpc"), 2, {}}) << true;
    QTest::newRow("malformed call")
        << hello + FrameReader::prefix(1) + QByteArray("\x80", 1) << true;
    QTest::newRow("truncated frame")
        << hello + FrameReader::prefix(100) + QByteArray(10, 'x') << false;
}

void TestRpcClientServer::hostileClientsDoNotDisturbOthers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, serverCloses);
    ServerThread server;
    auto good = openConnection(server.port());

    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(raw.waitForConnected(5000));
    writeBlocking(raw, bytes);
    if (serverCloses) {
        QElapsedTimer clock;
        clock.start();
        while (raw.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 5000)
            raw.waitForReadyRead(100);
        QCOMPARE(raw.state(), QAbstractSocket::UnconnectedState);
    } else {
        raw.abort();
    }

    QCOMPARE(good->call(QStringLiteral("Echo"), {"fine"}).toText(), QStringLiteral("fine"));
    auto later = openConnection(server.port());
    QCOMPARE(later->call(QStringLiteral("Echo"), {2}).toInteger(), 2);
    // The rejection is logged, with a reason, beside the good calls.
    const auto rejectionLogged = [&] {
        const QStringList log = server.log();
        return log.size() == 3 && std::any_of(log.cbegin(), log.cend(), [](const QString &line) {
                   return line.contains(u" - error: ");
               });
    };
    QTRY_VERIFY2(rejectionLogged(), qPrintable(server.log().join(u'\n')));
}

void TestRpcClientServer::idleClientsAreClosedAndTheNextCallReconnects()
{
    // Anyone: the raw connection below is greeted with a plain hello.
    ServerThread server([](RpcServer &s) { s.setIdleTimeout(300); }, Access::Anyone);
    int connects = 0;
    NetConnection c;
    c.setServerName(kObject);
    connect(&c, &NetConnection::beforeConnect, this, [&](NetConnection *sender) {
        ++connects;
        sender->setHost(QStringLiteral("127.0.0.1"));
        sender->setPort(server.port());
    });
    c.open();
    QCOMPARE(c.call(QStringLiteral("Echo"), {1}).toInteger(), 1);

    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(raw.waitForConnected(5000));
    writeBlocking(raw, encodeHello(RpcHello()));
    QVERIFY(!readFrameBlocking(raw).isEmpty());
    QElapsedTimer clock;
    clock.start();
    while (raw.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 5000)
        raw.waitForReadyRead(100);
    QCOMPARE(raw.state(), QAbstractSocket::UnconnectedState);

    // The server dropped our idle connection too; the call connects again and goes through.
    QThread::msleep(200);
    QCOMPARE(c.call(QStringLiteral("Echo"), {2}).toInteger(), 2);
    QCOMPARE(connects, 2);
}

void TestRpcClientServer::aSessionOutlivesItsConnections()
{
    QMutex mutex;
    QStringList ended;
    ServerThread server([&](RpcServer &s) {
        s.setIdleTimeout(300);
        s.setSessionEndedHandler([&](const QString &session) {
            QMutexLocker lock(&mutex);
            ended << session;
        });
    });
    auto a = openConnection(server.port());
    auto b = openConnection(server.port());
    const QString first = a->call(QStringLiteral("WhoAmI")).toText();
    // The server knows the session by a digest of the key, never by the key itself.
    QCOMPARE(first, RpcSession::sessionDigest(kClient, a->sessionKey()));
    QVERIFY(!first.contains(a->sessionKey()));
    QVERIFY(b->call(QStringLiteral("WhoAmI")).toText() != first);

    // Dropped for idling, the connection comes back as the same session; the end of the dropped
    // connection was reported with it.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QThread::msleep(50);
        QMutexLocker lock(&mutex);
        if (ended.size() == 2)
            break;
    }
    QCOMPARE(a->call(QStringLiteral("WhoAmI")).toText(), first);
    {
        QMutexLocker lock(&mutex);
        QVERIFY(ended.contains(first));
    }

    // A client may set its own key; every connection then carries that one.
    a->setSessionKey(QStringLiteral("0123456789abcdef-own"));
    a->close();
    a->open();
    QCOMPARE(a->call(QStringLiteral("WhoAmI")).toText(),
             RpcSession::sessionDigest(kClient, QStringLiteral("0123456789abcdef-own")));
}

void TestRpcClientServer::helloSessionKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("none: the server draws one") << QString() << true;
    QTest::newRow("16 characters") << QStringLiteral("abcdefghijklmnop") << true;
    QTest::newRow("128 characters") << QString(128, u'Z') << true;
    QTest::newRow("too short") << QStringLiteral("abcdefghijklmno") << false;
    QTest::newRow("too long") << QString(129, u'Z') << false;
    QTest::newRow("a blank") << QStringLiteral("abcdefgh ijklmnop") << false;
    QTest::newRow("a newline") << QStringLiteral("abcdefgh\nijklmnop") << false;
    QTest::newRow("non-ASCII") << QStringLiteral("abcdefghijklmnopç") << false;
}

void TestRpcClientServer::helloSessionKeys()
{
    QFETCH(QString, key);
    QFETCH(bool, accepted);
    // The key rules of a plain hello, on a server that lets anyone in.
    ServerThread server({}, Access::Anyone);
    const auto session = [&]() -> QString {
        QTcpSocket raw;
        raw.connectToHost(QHostAddress::LocalHost, server.port());
        if (!raw.waitForConnected(5000))
            return QStringLiteral("<no connection>");
        RpcHello hello;
        hello.session = key;
        writeBlocking(raw, encodeHello(hello));
        const RpcHelloReply reply = decodeHelloReply(readFrameBlocking(raw));
        if (!reply.ok)
            return QStringLiteral("<refused> ") + reply.error;
        RpcCall call;
        call.id = 1;
        call.object = kObject;
        call.method = QStringLiteral("WhoAmI");
        writeBlocking(raw, encodeCall(call));
        return decodeAnswer(readFrameBlocking(raw)).result.toText();
    };
    const QString once = session();
    if (!accepted) {
        QVERIFY2(once.startsWith(QStringLiteral("<refused> Uma chave de sessão tem de 16 a 128")),
                 qPrintable(once));
        return;
    }
    QCOMPARE(once.size(), 64);
    if (key.isEmpty())
        QVERIFY(session() != once); // each connection without a key is a session of its own
    else
        QCOMPARE(session(), RpcSession::sessionDigest(key));
}

void TestRpcClientServer::sizeLimitsHoldOnBothSides()
{
    ServerThread server([](RpcServer &s) { s.setMaxFrameSize(10000); });
    auto c = openConnection(server.port());
    c->setMaxFrameSize(5000);

    // Too large to send: refused before anything is written; the connection stays usable.
    QCOMPARE(thrown([&] {
                 c->call(QStringLiteral("Echo"), {RpcValue::fromPacket(QByteArray(6000, 'a'))});
             }),
             expected(RpcError::Kind::FrameTooLarge));
    QVERIFY(c->isConnected());
    QCOMPARE(c->call(QStringLiteral("Echo"), {3}).toInteger(), 3);

    // Over the server's limit: it says so and closes; the caller is told, not left waiting.
    c->setMaxFrameSize(kDefaultMaxFrameSize);
    QString message;
    QElapsedTimer clock;
    clock.start();
    const QString kind = thrown(
        [&] { c->call(QStringLiteral("Echo"), {RpcValue::fromPacket(QByteArray(20000, 'a'))}); },
        &message);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(kind == expected(RpcError::Kind::Protocol) ||
                 kind == expected(RpcError::Kind::ConnectionLost),
             qPrintable(kind + u": " + message));
    QVERIFY(!c->isConnected());
}

void TestRpcClientServer::clientTextIsEscapedAndCutInLogsAndErrors()
{
    // Anyone: the last part speaks the frames by hand.
    ServerThread server({}, Access::Anyone);
    auto c = openConnection(server.port());
    // A method name made to read as a log line of its own after the real one.
    const QString forged = QStringLiteral(
        "Nada 0.1 ms ok\n127.0.0.1:1 FIS11000.rdmCompraLEGALBA.GetDeletaLista 0.2 ms ok\r\x01");
    QString message;
    thrown([&] { c->call(forged); }, &message);
    QVERIFY2(!message.contains(u'\n') && !message.contains(u'\r') && !message.contains(u'\x01'),
             qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("Nada 0.1 ms ok\\n127.0.0.1:1")), qPrintable(message));
    // A long object name comes back cut.
    thrown([&] { c->callObject(QString(250, u'O'), QStringLiteral("Echo"), {}); }, &message);
    QVERIFY2(message.size() < 250 && message.contains(QString(120, u'O') + u'…'),
             qPrintable(message));
    QVERIFY(c->isConnected());
    QTRY_COMPARE(server.log().size(), 2);
    const QStringList log = server.log();
    for (const QString &line : log)
        QVERIFY2(!line.contains(u'\n') && !line.contains(u'\r') && !line.contains(u'\x01') &&
                     line.size() < 600,
                 qPrintable(line));
    // The forged name is shown quoted, so nothing after it passes for the outcome.
    QVERIFY2(log.at(0).contains(u".\"Nada 0.1 ms ok\\n127.0.0.1:1 ") &&
                 log.at(0).contains(QStringLiteral("\\r\\x01\" ")) &&
                 log.at(0).contains(QStringLiteral(" ms error: ")),
             qPrintable(log.at(0)));

    // A method name of a megabyte is refused before it is read, and not echoed.
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(raw.waitForConnected(5000));
    writeBlocking(raw, encodeHello(RpcHello()));
    QVERIFY(decodeHelloReply(readFrameBlocking(raw)).ok);
    RpcCall call;
    call.id = 7;
    call.object = kObject;
    call.method = QString(1 << 20, u'M');
    writeBlocking(raw, encodeCall(call));
    const QByteArray body = readFrameBlocking(raw);
    QVERIFY(!body.isEmpty() && body.size() < 1000);
    const RpcAnswer answer = decodeAnswer(body);
    QVERIFY(answer.failed);
    QVERIFY2(answer.error.contains(u"256 bytes"), qPrintable(answer.error));
    QTRY_COMPARE(server.log().size(), 3);
    QVERIFY(server.log().at(2).size() < 600);
}

void TestRpcClientServer::helloExtraKeysMayHoldAnyValue()
{
    // A later client may say more in its hello, in values of any kind, tagged ones included.
    QByteArray body;
    {
        QCborStreamWriter w(&body);
        w.startMap(6);
        w.append(QStringLiteral("hello"));
        w.append(QStringLiteral("fis-rpc"));
        w.append(QStringLiteral("version"));
        w.append(1);
        w.append(QStringLiteral("packet"));
        w.append(QCborTag(24));
        w.appendByteString("", 0);
        w.append(QStringLiteral("date"));
        w.append(QCborTag(1899));
        w.append(1.0);
        w.append(QStringLiteral("nested"));
        w.startArray(2);
        w.append(QCborTag(24));
        w.append(QCborTag(1899));
        w.append(QCborSimpleType(99));
        w.startMap(1);
        w.append(1);
        w.append(QCborTag(2));
        w.appendByteString("\x01", 1);
        w.endMap();
        w.endArray();
        w.append(QStringLiteral("twice tagged"));
        w.append(QCborTag(55799));
        w.append(QCborTag(24));
        w.appendByteString("\x01", 1);
        w.endMap();
    }
    ServerThread server({}, Access::Anyone);
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(raw.waitForConnected(5000));
    writeBlocking(raw, FrameReader::prefix(body.size()) + body);
    const RpcHelloReply reply = decodeHelloReply(readFrameBlocking(raw));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    // And the connection serves calls.
    RpcCall call;
    call.id = 1;
    call.object = kObject;
    call.method = QStringLiteral("Echo");
    call.args = {5};
    writeBlocking(raw, encodeCall(call));
    QCOMPARE(decodeAnswer(readFrameBlocking(raw)).result.toInteger(), 5);
}

void TestRpcClientServer::aTrickleMovesNoDeadline_data()
{
    QTest::addColumn<bool>("greeted");
    QTest::newRow("the hello") << false;
    QTest::newRow("a call") << true;
}

void TestRpcClientServer::aTrickleMovesNoDeadline()
{
    QFETCH(bool, greeted);
    ServerThread server(
        [](RpcServer &s) {
            s.setHandshakeTimeout(1000);
            s.setFrameTimeout(1000);
            s.setIdleTimeout(60000);
        },
        Access::Anyone);
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(raw.waitForConnected(5000));
    QByteArray bytes = encodeHello(RpcHello());
    if (greeted) {
        writeBlocking(raw, bytes);
        QVERIFY(decodeHelloReply(readFrameBlocking(raw)).ok);
        RpcCall call;
        call.id = 1;
        call.object = kObject;
        call.method = QStringLiteral("Echo");
        call.args = {RpcValue::fromPacket(QByteArray(200, 'p'))};
        bytes = encodeCall(call);
    }
    // One byte every 150 ms: each would have restarted the old deadline.
    QElapsedTimer clock;
    clock.start();
    for (qsizetype i = 0; i < bytes.size() && raw.state() == QAbstractSocket::ConnectedState; ++i) {
        raw.write(bytes.constData() + i, 1);
        raw.waitForBytesWritten(1000);
        raw.waitForDisconnected(150);
    }
    QVERIFY2(raw.state() != QAbstractSocket::ConnectedState, "the trickle kept the connection");
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY(!server.log().isEmpty());
    QVERIFY2(server.log().constLast().contains(greeted ? u"did not arrive whole in time"
                                                       : u"no hello in time"),
             qPrintable(server.log().join(u'\n')));
}

void TestRpcClientServer::unreadAnswersStopTheReading()
{
    auto handled = std::make_shared<std::atomic<int>>(0);
    ServerThread server(
        [handled](RpcServer &s) {
            s.registerMethod(kObject, QStringLiteral("Big"), [handled](RpcArgs &a) {
                ++*handled;
                return RpcValue::fromPacket(QByteArray(1 << 20, char('a' + a.number(0))));
            });
        },
        Access::Anyone);
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(raw.waitForConnected(5000));
    writeBlocking(raw, encodeHello(RpcHello()));
    QVERIFY(decodeHelloReply(readFrameBlocking(raw)).ok);
    // 60 calls, each answered by a megabyte, sent at once; nothing is read for a while.
    constexpr int kCalls = 60;
    QByteArray calls;
    for (int i = 0; i < kCalls; ++i) {
        RpcCall call;
        call.id = quint64(i);
        call.object = kObject;
        call.method = QStringLiteral("Big");
        call.args = {i % 26};
        calls += encodeCall(call);
    }
    raw.setReadBufferSize(1);
    raw.write(calls);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500)
        raw.waitForBytesWritten(100);
    // What the kernel's buffers hold, a few answers, and no more.
    const int whileUnread = handled->load();
    QVERIFY2(whileUnread > 0 && whileUnread < 20, qPrintable(QString::number(whileUnread)));
    raw.setReadBufferSize(0);
    FrameReader reader;
    for (int i = 0; i < kCalls; ++i) {
        while (!reader.hasFrame() && (raw.bytesAvailable() > 0 || raw.waitForReadyRead(10000)))
            reader.feed(raw.readAll());
        QVERIFY2(reader.hasFrame(), qPrintable(QString::number(i)));
        const RpcAnswer answer = decodeAnswer(reader.takeFrame());
        QCOMPARE(answer.id, quint64(i));
        QCOMPARE(answer.result.toPacket(), QByteArray(1 << 20, char('a' + i % 26)));
    }
    QCOMPARE(handled->load(), kCalls);
}

void TestRpcClientServer::clientsProveTheirSecret_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<QByteArray>("secret");
    QTest::addColumn<QString>("refusal"); // empty: let in
    QTest::newRow("right secret") << "caixa-01" << QByteArray("s3gredo") << QString();
    QTest::newRow("wrong secret") << "caixa-01" << QByteArray("s3gredO")
                                  << "Cliente ou segredo não reconhecido.";
    QTest::newRow("unknown client")
        << "caixa-99" << QByteArray("s3gredo") << "Cliente ou segredo não reconhecido.";
    QTest::newRow("no client") << "" << QByteArray() << "só atende clientes cadastrados";
}

void TestRpcClientServer::clientsProveTheirSecret()
{
    QFETCH(QString, client);
    QFETCH(QByteArray, secret);
    QFETCH(QString, refusal);
    ServerThread server([](RpcServer &s) { s.setClients(registryOf("caixa-01", "s3gredo")); });
    NetConnection c;
    c.setServerName(kObject);
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(server.port());
    c.setSessionKey(QStringLiteral("0123456789abcdef0123"));
    if (!client.isEmpty())
        c.setCredentials(client, secret);
    QString message;
    const QString kind = thrown([&] { c.open(); }, &message);
    if (refusal.isEmpty()) {
        QVERIFY2(kind == u"no error", qPrintable(message));
        // Lists belong to the client: the same session key under another name is another
        // session.
        QCOMPARE(c.call(QStringLiteral("WhoAmI")).toText(),
                 RpcSession::sessionDigest(client, c.sessionKey()));
        QTRY_VERIFY(!server.log().isEmpty());
        QVERIFY2(server.log().constLast().startsWith(client + u"@127.0.0.1:"),
                 qPrintable(server.log().constLast()));
        return;
    }
    QCOMPARE(kind, expected(RpcError::Kind::Handshake));
    QVERIFY2(message.contains(refusal), qPrintable(message));
    QTRY_VERIFY(!server.log().isEmpty());
    const QString line = server.log().constLast();
    QVERIFY2(line.contains(u"refused"), qPrintable(line));
    QVERIFY2(secret.isEmpty() || !line.contains(QString::fromUtf8(secret)), qPrintable(line));
}

void TestRpcClientServer::aProofIsGoodForOneConnectionOnly()
{
    ServerThread server([](RpcServer &s) { s.setClients(registryOf("caixa-01", "s3gredo")); });
    const auto handshake = [&](QTcpSocket &raw, const QByteArray &nonce) {
        raw.connectToHost(QHostAddress::LocalHost, server.port());
        raw.waitForConnected(5000);
        RpcHello hello;
        hello.client = QStringLiteral("caixa-01");
        hello.nonce = nonce;
        writeBlocking(raw, encodeHello(hello));
        return decodeHelloReply(readFrameBlocking(raw));
    };
    const QByteArray nonce(kNonceBytes, 'n');
    QTcpSocket first;
    const RpcHelloReply challenge = handshake(first, nonce);
    QVERIFY(challenge.isChallenge());
    const QByteArray salted = saltedSecret("s3gredo", challenge.salt, int(challenge.iterations));
    const QByteArray proof =
        clientProof(salted, authMessage(QStringLiteral("caixa-01"), nonce, challenge.challenge));
    writeBlocking(first, encodeProof(RpcProof{proof}));
    const RpcHelloReply ok = decodeHelloReply(readFrameBlocking(first));
    QVERIFY2(ok.ok, qPrintable(ok.error));
    // The same proof, replayed on a new connection with the same client nonce, meets a new
    // challenge and fails.
    QTcpSocket second;
    const RpcHelloReply again = handshake(second, nonce);
    QVERIFY(again.isChallenge());
    QVERIFY(again.challenge != challenge.challenge);
    writeBlocking(second, encodeProof(RpcProof{proof}));
    const RpcHelloReply refused = decodeHelloReply(readFrameBlocking(second));
    QVERIFY(!refused.ok);
    QCOMPARE(refused.error, QStringLiteral("Cliente ou segredo não reconhecido."));
    QVERIFY(second.waitForDisconnected(5000) ||
            second.state() == QAbstractSocket::UnconnectedState);
}

void TestRpcClientServer::aServerWithoutTheVerifierIsRefused()
{
    // A server that challenges but cannot sign: it does not hold the client's verifier.
    ScriptedServer server([](QTcpSocket &s) {
        const RpcHello hello = decodeHello(readFrameBlocking(s));
        RpcHelloReply challenge;
        challenge.ok = false;
        challenge.challenge = QByteArray(kNonceBytes, 'c');
        challenge.salt = QByteArray(16, 's');
        challenge.iterations = kMinSecretIterations;
        writeBlocking(s, encodeHelloReply(challenge));
        decodeProof(readFrameBlocking(s));
        RpcHelloReply ok;
        ok.signature = QByteArray(32, 'x');
        writeBlocking(s, encodeHelloReply(ok));
        Q_UNUSED(hello);
    });
    NetConnection c;
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(server.port());
    c.setCredentials(QStringLiteral("caixa-01"), QByteArray("s3gredo"));
    QString message;
    QCOMPARE(thrown([&] { c.open(); }, &message), expected(RpcError::Kind::Handshake));
    QVERIFY2(message.contains(u"não provou conhecer este cliente"), qPrintable(message));
}

void TestRpcClientServer::refusedConnectionFails()
{
    NetConnection c;
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(unusedPort());
    QElapsedTimer clock;
    clock.start();
    QString message;
    QCOMPARE(thrown([&] { c.open(); }, &message), expected(RpcError::Kind::ConnectFailed));
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY2(message.contains(QString::number(c.port())), qPrintable(message));
    QVERIFY(!c.isConnected());
}

void TestRpcClientServer::silentHelloTimesOut()
{
    ScriptedServer server([](QTcpSocket &) {});
    NetConnection c;
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(server.port());
    c.setConnectTimeout(300);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(thrown([&] { c.open(); }), expected(RpcError::Kind::Timeout));
    QVERIFY2(clock.elapsed() >= 250 && clock.elapsed() < 3000,
             qPrintable(QString::number(clock.elapsed())));
}

void TestRpcClientServer::silentServerTimesOutAndClosesTheConnection()
{
    ScriptedServer server([](QTcpSocket &s) {
        ScriptedServer::greet(s);
        readFrameBlocking(s);
    });
    auto c = openConnection(server.port());
    c->setCallTimeout(300);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(thrown([&] { c->call(QStringLiteral("GetRegistro")); }),
             expected(RpcError::Kind::Timeout));
    QVERIFY2(clock.elapsed() >= 250 && clock.elapsed() < 3000,
             qPrintable(QString::number(clock.elapsed())));
    // A late answer would be taken for the next call's: the connection is closed instead.
    QVERIFY(!c->isConnected());
    QCOMPARE(thrown([&] { c->call(QStringLiteral("GetLista")); }),
             expected(RpcError::Kind::NotConnected));
}

void TestRpcClientServer::droppedConnectionFailsPromptly_data()
{
    QTest::addColumn<bool>("halfAnAnswer");
    QTest::newRow("before answering") << false;
    QTest::newRow("in the middle of the answer") << true;
}

void TestRpcClientServer::droppedConnectionFailsPromptly()
{
    QFETCH(bool, halfAnAnswer);
    ScriptedServer server([halfAnAnswer](QTcpSocket &s) {
        ScriptedServer::greet(s);
        const RpcCall call = decodeCall(readFrameBlocking(s));
        if (halfAnAnswer) {
            RpcAnswer answer;
            answer.id = call.id;
            answer.result = RpcValue::fromPacket(QByteArray(100000, 'l'));
            writeBlocking(s, encodeAnswer(answer).left(50000));
        }
        s.disconnectFromHost();
    });
    auto c = openConnection(server.port());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(thrown([&] { c->call(QStringLiteral("GetRegistro")); }),
             expected(RpcError::Kind::ConnectionLost));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!c->isConnected());
}

void TestRpcClientServer::unreadableAnswersCloseTheConnection_data()
{
    QTest::addColumn<int>("variant");
    QTest::newRow("not CBOR") << 0;
    QTest::newRow("answer to another call") << 1;
    QTest::newRow("oversized frame") << 2;
}

void TestRpcClientServer::unreadableAnswersCloseTheConnection()
{
    QFETCH(int, variant);
    ScriptedServer server([variant](QTcpSocket &s) {
        ScriptedServer::greet(s);
        const RpcCall call = decodeCall(readFrameBlocking(s));
        RpcAnswer answer;
        answer.id = call.id + 1;
        answer.result = 1;
        if (variant == 0)
            writeBlocking(s, FrameReader::prefix(3) + QByteArray("\xff\xff\xff", 3));
        else if (variant == 1)
            writeBlocking(s, encodeAnswer(answer));
        else
            writeBlocking(s, FrameReader::prefix(2000) + QByteArray(2000, 'x'));
    });
    auto c = openConnection(server.port());
    c->setMaxFrameSize(1000);
    const QString want =
        variant == 2 ? expected(RpcError::Kind::FrameTooLarge) : expected(RpcError::Kind::Protocol);
    QCOMPARE(thrown([&] { c->call(QStringLiteral("GetLista")); }), want);
    QVERIFY(!c->isConnected());
}

void TestRpcClientServer::refusedHelloIsAHandshakeError()
{
    ScriptedServer server([](QTcpSocket &s) {
        readFrameBlocking(s);
        writeBlocking(
            s, encodeHelloReply(RpcHelloReply{false, 0, QStringLiteral("version 1 retired")}));
        s.disconnectFromHost();
    });
    NetConnection c;
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(server.port());
    QString message;
    QCOMPARE(thrown([&] { c.open(); }, &message), expected(RpcError::Kind::Handshake));
    QVERIFY2(message.contains(u"version 1 retired"), qPrintable(message));
    QVERIFY(!c.isConnected());
}

void TestRpcClientServer::stoppedServerIsNoticed()
{
    auto server = std::make_unique<ServerThread>();
    auto c = openConnection(server->port());
    QCOMPARE(c->call(QStringLiteral("Echo"), {1}).toInteger(), 1);
    server.reset();
    QElapsedTimer clock;
    clock.start();
    // Connecting again is tried once and refused: an error, quickly, never a wait for the timeout.
    QCOMPARE(thrown([&] { c->call(QStringLiteral("Echo"), {1}); }),
             expected(RpcError::Kind::ConnectFailed));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!c->isConnected());
}

QTEST_GUILESS_MAIN(TestRpcClientServer)
#include "tst_rpcclientserver.moc"

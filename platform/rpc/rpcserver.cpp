#include "rpc/rpcserver.h"

#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <stdexcept>

namespace fis {

namespace {

// How long a client being closed may take to accept what is still queued for it.
constexpr int kCloseGraceMs = 5000;

QString peerName(const QTcpSocket *socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

} // namespace

QString RpcCallRecord::toLogLine() const
{
    const QString outcome = ok ? QStringLiteral("ok") : QStringLiteral("error: ") + error;
    if (method.isEmpty())
        return QStringLiteral("%1 - %2").arg(peer, outcome);
    return QStringLiteral("%1 %2.%3 %4 ms %5")
        .arg(peer, object, method, QString::number(double(microseconds) / 1000.0, 'f', 1), outcome);
}

// One connected client: its socket, the frames it has sent so far and its timer.
class RpcServer::Client : public QObject
{
public:
    Client(RpcServer *server, QTcpSocket *socket)
        : QObject(server)
        , m_server(server)
        , m_socket(socket)
        , m_reader(server->m_maxFrameSize)
        , m_peer(peerName(socket))
    {
        m_socket->setParent(this);
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Client::timedOut);
        connect(m_socket, &QTcpSocket::readyRead, this, &Client::readFrames);
        connect(m_socket, &QTcpSocket::disconnected, this, &Client::disconnected);
        m_server->m_clients.insert(this);
        armTimer();
    }

    ~Client() override { m_server->m_clients.remove(this); }

    const QString &peer() const { return m_peer; }

    void send(const QByteArray &frame)
    {
        if (!m_closing)
            m_socket->write(frame);
    }

    // Sends a last frame (when not empty) and closes once it is out.
    void sendAndClose(const QByteArray &frame)
    {
        if (m_closing)
            return;
        if (!frame.isEmpty())
            m_socket->write(frame);
        m_closing = true;
        m_timer.start(kCloseGraceMs);
        m_socket->disconnectFromHost();
    }

    // Stops serving at once; the object goes with the next turn of the event loop.
    void drop()
    {
        m_closing = true;
        m_timer.stop();
        m_socket->abort();
        deleteLater();
    }

    bool m_greeted = false;

private:
    void armTimer()
    {
        const int ms = m_greeted ? m_server->m_idleTimeout : m_server->m_handshakeTimeout;
        if (ms > 0)
            m_timer.start(ms);
        else
            m_timer.stop();
    }

    void readFrames()
    {
        if (m_closing) {
            m_socket->readAll();
            return;
        }
        try {
            m_reader.feed(m_socket->readAll());
            while (!m_closing && m_reader.hasFrame())
                m_server->handleFrame(this, m_reader.takeFrame());
        } catch (const std::exception &e) {
            // Oversized frame, or memory running out on a huge one: nothing after it can be
            // trusted to be framed right.
            const QString text = e.what() ? QString::fromUtf8(e.what()) : QString();
            rejectConnection(text);
            return;
        }
        if (!m_closing)
            armTimer();
    }

    void rejectConnection(const QString &text)
    {
        RpcCallRecord record;
        record.peer = m_peer;
        record.error = text;
        m_server->log(record);
        RpcAnswer answer;
        answer.failed = true;
        answer.error = text;
        QByteArray frame;
        try {
            frame = encodeAnswer(answer);
        } catch (const std::exception &) {
            // Closing without a last word is all that is left.
        }
        sendAndClose(frame);
    }

    void timedOut()
    {
        if (m_closing) {
            m_socket->abort();
            return;
        }
        RpcCallRecord record;
        record.peer = m_peer;
        record.error = m_greeted ? QStringLiteral("idle for too long; disconnected")
                                 : QStringLiteral("no hello in time; disconnected");
        m_server->log(record);
        sendAndClose({});
    }

    void disconnected()
    {
        if (m_reader.isMidFrame() && !m_closing) {
            RpcCallRecord record;
            record.peer = m_peer;
            record.error = QStringLiteral("connection closed in the middle of a frame");
            m_server->log(record);
        }
        m_closing = true;
        m_timer.stop();
        deleteLater();
    }

    RpcServer *m_server;
    QTcpSocket *m_socket;
    FrameReader m_reader;
    QTimer m_timer;
    QString m_peer;
    bool m_closing = false;
};

RpcServer::RpcServer(QObject *parent)
    : QObject(parent)
    , m_tcp(new QTcpServer(this))
{
    connect(m_tcp, &QTcpServer::newConnection, this, &RpcServer::acceptClients);
}

RpcServer::~RpcServer()
{
    // Clients unregister themselves, so they must go while the set still exists.
    const QSet<Client *> clients = m_clients;
    qDeleteAll(clients);
}

void RpcServer::registerMethod(const QString &object, const QString &method, RpcHandler handler)
{
    if (object.isEmpty() || method.isEmpty())
        throw std::invalid_argument("RpcServer::registerMethod: empty object or method name");
    if (!handler)
        throw std::invalid_argument("RpcServer::registerMethod: no handler");
    QHash<QString, RpcHandler> &methods = m_objects[object.toLower()];
    const QString key = method.toLower();
    if (methods.contains(key))
        throw std::invalid_argument(
            QStringLiteral("RpcServer::registerMethod: %1.%2 registered twice")
                .arg(object, method)
                .toStdString());
    methods.insert(key, std::move(handler));
}

bool RpcServer::listen(const QHostAddress &address, quint16 port)
{
    return m_tcp->listen(address, port);
}

void RpcServer::close()
{
    m_tcp->close();
    // Clients leave the set only when deleted, so the destructor still finds every one of them.
    const QSet<Client *> clients = m_clients;
    for (Client *c : clients)
        c->drop();
}

bool RpcServer::isListening() const
{
    return m_tcp->isListening();
}

quint16 RpcServer::serverPort() const
{
    return m_tcp->serverPort();
}

QHostAddress RpcServer::serverAddress() const
{
    return m_tcp->serverAddress();
}

QString RpcServer::errorString() const
{
    return m_tcp->errorString();
}

void RpcServer::setCallLogger(std::function<void(const RpcCallRecord &)> logger)
{
    m_logger = std::move(logger);
}

qsizetype RpcServer::clientCount() const
{
    return m_clients.size();
}

void RpcServer::acceptClients()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection())
        new Client(this, socket);
}

void RpcServer::log(const RpcCallRecord &record) const
{
    if (!m_logger)
        return;
    try {
        m_logger(record);
    } catch (...) {
        // A failing log line must not take the server down with it.
    }
}

void RpcServer::handleFrame(Client *client, const QByteArray &body)
{
    if (client->m_greeted) {
        answerCall(client, body);
        return;
    }
    RpcHelloReply reply;
    try {
        const RpcHello hello = decodeHello(body);
        if (hello.protocol != QLatin1StringView(kProtocolName)) {
            reply.error = QStringLiteral("This server speaks %1, not \"%2\".")
                              .arg(QLatin1StringView(kProtocolName), hello.protocol);
        } else if (hello.version != kProtocolVersion) {
            reply.error = QStringLiteral("Protocol version %1 is not supported; this server "
                                         "speaks version %2.")
                              .arg(hello.version)
                              .arg(kProtocolVersion);
        }
    } catch (const RpcError &e) {
        reply.error = e.message();
    }
    if (reply.error.isEmpty()) {
        client->m_greeted = true;
        client->send(encodeHelloReply(reply));
        return;
    }
    reply.ok = false;
    RpcCallRecord record;
    record.peer = client->peer();
    record.error = reply.error;
    log(record);
    client->sendAndClose(encodeHelloReply(reply));
}

void RpcServer::answerCall(Client *client, const QByteArray &body)
{
    QElapsedTimer clock;
    clock.start();
    RpcCallRecord record;
    record.peer = client->peer();
    RpcAnswer answer;
    RpcCall call;
    try {
        call = decodeCall(body);
    } catch (const RpcError &e) {
        // Without a readable id the client could not match an answer: end the connection.
        record.error = e.message();
        log(record);
        answer.failed = true;
        answer.error = e.message();
        client->sendAndClose(encodeAnswer(answer));
        return;
    }
    record.object = call.object;
    record.method = call.method;
    answer.id = call.id;

    const auto object = m_objects.constFind(call.object.toLower());
    const RpcHandler *handler = nullptr;
    if (object == m_objects.cend()) {
        answer.failed = true;
        answer.error = QStringLiteral("Unknown server object \"%1\".").arg(call.object);
    } else if (const auto method = object->constFind(call.method.toLower());
               method == object->cend()) {
        answer.failed = true;
        answer.error = QStringLiteral("The server object \"%1\" has no method \"%2\".")
                           .arg(call.object, call.method);
    } else {
        handler = &method.value();
    }

    if (handler) {
        RpcArgs args(call.method, std::move(call.args), call.byRef);
        try {
            answer.result = (*handler)(args);
            for (qsizetype i : args.byRef())
                answer.refs.insert(i, args.values().at(i));
        } catch (const RpcError &e) {
            answer.failed = true;
            answer.error = e.message();
        } catch (const std::exception &e) {
            answer.failed = true;
            answer.error = QString::fromUtf8(e.what());
        } catch (...) {
            answer.failed = true;
            answer.error = QStringLiteral("%1 failed.").arg(call.method);
        }
        if (answer.failed) {
            answer.result = RpcValue();
            answer.refs.clear();
        }
    }

    QByteArray frame;
    try {
        frame = encodeAnswer(answer, m_maxFrameSize);
    } catch (const RpcError &e) {
        answer = RpcAnswer{call.id, true, e.message(), {}, {}};
        frame = encodeAnswer(answer, m_maxFrameSize);
    }
    record.microseconds = clock.nsecsElapsed() / 1000;
    record.ok = !answer.failed;
    record.error = answer.error;
    client->send(frame);
    log(record);
}

} // namespace fis

#include "server/clientsession.h"

#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"
#include "server/methodtable.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace fis {

namespace {

// How long a client being closed may take to accept what is still queued for it.
constexpr int kCloseGraceMs = 5000;

} // namespace

ClientSession::ClientSession(qintptr descriptor, const SessionSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_socket(new QTcpSocket(this))
    , m_reader(settings.maxFrameSize)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ClientSession::timedOut);
    if (!m_socket->setSocketDescriptor(descriptor)) {
        RpcCallRecord record;
        record.peer = QStringLiteral("-");
        record.error =
            QStringLiteral("cannot take the accepted socket: ") + m_socket->errorString();
        log(record);
        m_closing = true;
        QMetaObject::invokeMethod(this, &ClientSession::end, Qt::QueuedConnection);
        return;
    }
    m_peer =
        QStringLiteral("%1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::readFrames);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientSession::disconnected);
    armTimer();
}

ClientSession::~ClientSession() = default;

void ClientSession::drop()
{
    m_closing = true;
    m_timer.stop();
    m_socket->abort();
    end();
}

void ClientSession::end()
{
    if (m_ended)
        return;
    m_ended = true;
    emit finished();
    deleteLater();
}

void ClientSession::log(const RpcCallRecord &record) const
{
    if (!m_settings.logger)
        return;
    try {
        m_settings.logger(record);
    } catch (...) {
        // A failing log line must not take the session down with it.
    }
}

void ClientSession::armTimer()
{
    const int ms = m_greeted ? m_settings.idleTimeoutMs : m_settings.handshakeTimeoutMs;
    if (ms > 0)
        m_timer.start(ms);
    else
        m_timer.stop();
}

void ClientSession::readFrames()
{
    if (m_closing) {
        m_socket->readAll();
        return;
    }
    try {
        m_reader.feed(m_socket->readAll());
        while (!m_closing && m_reader.hasFrame())
            handleFrame(m_reader.takeFrame());
    } catch (const std::exception &e) {
        // An oversized frame, or memory running out on a huge one: nothing after it can be
        // trusted to be framed right.
        rejectConnection(QString::fromUtf8(e.what()));
        return;
    }
    if (!m_closing)
        armTimer();
}

void ClientSession::rejectConnection(const QString &text)
{
    RpcCallRecord record;
    record.peer = m_peer;
    record.error = text;
    log(record);
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

void ClientSession::sendAndClose(const QByteArray &frame)
{
    if (m_closing)
        return;
    if (!frame.isEmpty())
        m_socket->write(frame);
    m_closing = true;
    m_timer.start(kCloseGraceMs);
    m_socket->disconnectFromHost();
}

void ClientSession::timedOut()
{
    if (m_closing) {
        m_socket->abort();
        end();
        return;
    }
    RpcCallRecord record;
    record.peer = m_peer;
    record.error = m_greeted ? QStringLiteral("idle for too long; disconnected")
                             : QStringLiteral("no hello in time; disconnected");
    log(record);
    sendAndClose({});
}

void ClientSession::disconnected()
{
    if (m_reader.isMidFrame() && !m_closing) {
        RpcCallRecord record;
        record.peer = m_peer;
        record.error = QStringLiteral("connection closed in the middle of a frame");
        log(record);
    }
    m_closing = true;
    m_timer.stop();
    end();
}

void ClientSession::handleFrame(const QByteArray &body)
{
    if (m_greeted) {
        answerCall(body);
        return;
    }
    RpcHelloReply reply;
    try {
        const RpcHello hello = decodeHello(body);
        if (hello.protocol != QLatin1StringView(kProtocolName))
            reply.error = QStringLiteral("This server speaks %1, not \"%2\".")
                              .arg(QLatin1StringView(kProtocolName), hello.protocol);
        else if (hello.version != kProtocolVersion)
            reply.error = QStringLiteral("Protocol version %1 is not supported; this server "
                                         "speaks version %2.")
                              .arg(hello.version)
                              .arg(kProtocolVersion);
    } catch (const RpcError &e) {
        reply.error = e.message();
    }
    if (reply.error.isEmpty()) {
        m_greeted = true;
        m_socket->write(encodeHelloReply(reply));
        return;
    }
    reply.ok = false;
    RpcCallRecord record;
    record.peer = m_peer;
    record.error = reply.error;
    log(record);
    sendAndClose(encodeHelloReply(reply));
}

void ClientSession::answerCall(const QByteArray &body)
{
    QElapsedTimer clock;
    clock.start();
    RpcCallRecord record;
    record.peer = m_peer;
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
        sendAndClose(encodeAnswer(answer));
        return;
    }
    record.object = call.object;
    record.method = call.method;
    answer.id = call.id;

    emit callStarted();
    QString unknown;
    if (const RpcHandler *handler = m_settings.methods->find(call.object, call.method, &unknown)) {
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
    } else {
        answer.failed = true;
        answer.error = unknown;
    }

    QByteArray frame;
    try {
        frame = encodeAnswer(answer, m_settings.maxFrameSize);
    } catch (const RpcError &e) {
        answer = RpcAnswer{call.id, true, e.message(), {}, {}};
        frame = encodeAnswer(answer, m_settings.maxFrameSize);
    }
    record.microseconds = clock.nsecsElapsed() / 1000;
    record.ok = !answer.failed;
    record.error = answer.error;
    if (!m_closing)
        m_socket->write(frame);
    emit callFinished();
    log(record);
}

} // namespace fis

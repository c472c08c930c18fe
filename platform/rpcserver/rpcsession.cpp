#include "rpcserver/rpcsession.h"

#include "rpc/peertext.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMessageAuthenticationCode>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <stdexcept>

namespace fis {

namespace {

// How long a client being closed may take to accept what is still queued for it.
constexpr int kCloseGraceMs = 5000;

// What the socket reads ahead of the session.
constexpr qint64 kReadAhead = qint64(1) << 20;

// Over the budget of partial frames, a session looks again this often.
constexpr int kPendingRetryMs = 20;

// A session key is an opaque token of the client's; these bounds keep it guessable by no one and
// harmless in a log.
constexpr qsizetype kMinSessionKey = 16;
constexpr qsizetype kMaxSessionKey = 128;

bool isSessionKey(const QString &key)
{
    if (key.size() < kMinSessionKey || key.size() > kMaxSessionKey)
        return false;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') ||
                        (u >= u'A' && u <= u'Z') || u == u'-' || u == u'_';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

QString RpcSession::sessionDigest(const QString &key)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex());
}

namespace {

// Names come from the client: one that is not a plain name is shown quoted and escaped, so that
// it cannot pass for the fields after it.
QString logName(const QString &name)
{
    return isPlainName(name) ? name : u'"' + printable(name) + u'"';
}

// Room for the longest error of our own plus the client text it echoes.
constexpr qsizetype kLoggedErrorLength = 1000;

} // namespace

QString RpcSession::sessionDigest(const QString &client, const QString &key)
{
    return client.isEmpty() ? sessionDigest(key) : sessionDigest(client + u'\n' + key);
}

QString RpcCallRecord::toLogLine() const
{
    const QString outcome = ok ? QStringLiteral("ok")
                               : QStringLiteral("error: ") + printable(error, kLoggedErrorLength);
    if (method.isEmpty() && object.isEmpty())
        return QStringLiteral("%1 - %2").arg(peer, outcome);
    return QStringLiteral("%1 %2.%3 %4 ms %5")
        .arg(peer, logName(object), logName(method),
             QString::number(double(microseconds) / 1000.0, 'f', 1), outcome);
}

RpcSession::RpcSession(const RpcSessionSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_reader(std::min(settings.maxFrameSize, settings.maxRequestSize))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &RpcSession::timedOut);
    m_pendingRetry.setSingleShot(true);
    connect(&m_pendingRetry, &QTimer::timeout, this, &RpcSession::readFrames);
}

RpcSession::RpcSession(QTcpSocket *socket, const RpcSessionSettings &settings, QObject *parent)
    : RpcSession(settings, parent)
{
    m_socket = socket;
    m_socket->setParent(this);
    start();
}

RpcSession::RpcSession(qintptr descriptor, const RpcSessionSettings &settings, QObject *parent)
    : RpcSession(settings, parent)
{
    QSslSocket *tls = nullptr;
    if (m_settings.tls) {
        tls = new QSslSocket(this);
        tls->setSslConfiguration(*m_settings.tls);
        m_socket = tls;
    } else {
        m_socket = new QTcpSocket(this);
    }
    if (!m_socket->setSocketDescriptor(descriptor)) {
        RpcCallRecord record;
        record.peer = QStringLiteral("-");
        record.error =
            QStringLiteral("cannot take the accepted socket: ") + m_socket->errorString();
        log(record);
        m_closing = true;
        // Whoever made the session connects to finished() only after this constructor.
        QMetaObject::invokeMethod(this, &RpcSession::end, Qt::QueuedConnection);
        return;
    }
    start();
    if (tls) {
        // A client that does not speak TLS, or drops it, is logged once; its connection ends
        // with the handshake, before any hello. The hello's deadline covers the handshake.
        connect(tls, &QSslSocket::errorOccurred, this, [this, tls](QAbstractSocket::SocketError e) {
            if (!m_greeted && !m_closing && e != QAbstractSocket::RemoteHostClosedError)
                logRejection(QStringLiteral("TLS handshake failed: ") + tls->errorString());
        });
        tls->startServerEncryption();
    }
}

RpcSession::~RpcSession()
{
    if (m_settings.pending)
        m_settings.pending->add(-m_pendingCounted);
}

void RpcSession::countPending()
{
    if (!m_settings.pending)
        return;
    const qint64 now = m_reader.isMidFrame() ? m_reader.partialBytes() : 0;
    m_settings.pending->add(now - m_pendingCounted);
    m_pendingCounted = now;
}

void RpcSession::start()
{
    m_peer =
        QStringLiteral("%1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // The socket takes in no more than this ahead of us, so that a session that stops reading
    // (answers backlogged) stops the client's sending too.
    m_socket->setReadBufferSize(kReadAhead);
    connect(m_socket, &QTcpSocket::readyRead, this, &RpcSession::readFrames);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &RpcSession::answersSent);
    connect(m_socket, &QTcpSocket::disconnected, this, &RpcSession::disconnected);
    // The hello's deadline runs from the connection, whatever arrives meanwhile.
    if (m_settings.handshakeTimeout > 0)
        m_timer.start(m_settings.handshakeTimeout);
}

void RpcSession::drop()
{
    m_closing = true;
    m_timer.stop();
    m_socket->abort();
    end();
}

void RpcSession::end()
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_settings.pending) {
        m_settings.pending->add(-m_pendingCounted);
        m_pendingCounted = 0;
    }
    if (m_greeted && m_settings.sessionEnded) {
        try {
            m_settings.sessionEnded(m_session);
        } catch (...) {
            // The connection is over either way.
        }
    }
    emit finished();
    deleteLater();
}

void RpcSession::log(const RpcCallRecord &record) const
{
    if (!m_settings.logger)
        return;
    try {
        m_settings.logger(record);
    } catch (...) {
        // A failing log line must not take the server down with it.
    }
}

void RpcSession::logRejection(const QString &text) const
{
    RpcCallRecord record;
    record.peer = m_peer;
    record.error = text;
    log(record);
}

// Only events move a deadline: a frame begun starts the frame's, a frame completed the idle one.
// Bytes in the middle of a frame move nothing, so a trickle cannot keep a connection.
void RpcSession::armTimer(qsizetype framesTaken, bool wasMidFrame)
{
    if (!m_greeted || m_paused)
        return;
    const bool mid = m_reader.isMidFrame();
    if (mid && (framesTaken > 0 || !wasMidFrame)) {
        if (m_settings.frameTimeout > 0)
            m_timer.start(m_settings.frameTimeout);
        else
            m_timer.stop();
    } else if (!mid && framesTaken > 0) {
        if (m_settings.idleTimeout > 0)
            m_timer.start(m_settings.idleTimeout);
        else
            m_timer.stop();
    }
}

bool RpcSession::answersBacklogged() const
{
    return m_socket->bytesToWrite() > m_settings.maxUnsentBytes;
}

void RpcSession::answersSent()
{
    if (!m_paused || m_closing)
        return;
    if (answersBacklogged()) {
        // The client is reading: it has the idle time again for the rest.
        if (m_settings.idleTimeout > 0)
            m_timer.start(m_settings.idleTimeout);
        return;
    }
    m_paused = false;
    // Calls that came meanwhile are waiting in the reader or the socket.
    QMetaObject::invokeMethod(this, &RpcSession::readFrames, Qt::QueuedConnection);
    if (m_settings.idleTimeout > 0)
        m_timer.start(m_settings.idleTimeout);
    else
        m_timer.stop();
}

void RpcSession::readFrames()
{
    if (m_closing) {
        m_socket->readAll();
        return;
    }
    if (m_paused)
        return;
    const bool wasMidFrame = m_reader.isMidFrame();
    qsizetype framesTaken = 0;
    // Over the budget of partial frames, wait for other clients' frames to complete or go.
    const auto mayRead = [this] {
        if (!m_settings.pending ||
            m_settings.pending->fits(m_socket->bytesAvailable(), m_pendingCounted)) {
            m_pendingWait = false;
            return true;
        }
        if (!m_pendingWait)
            logRejection(QStringLiteral("reading paused: requests not yet whole hold %1 bytes "
                                        "over all clients, the most is %2")
                             .arg(m_settings.pending->total())
                             .arg(m_settings.pending->limit()));
        m_pendingWait = true;
        m_pendingRetry.start(kPendingRetryMs);
        return false;
    };
    try {
        // Frames a pause left in the reader go first; then what the socket holds.
        if (!m_reader.hasFrame()) {
            if (!mayRead())
                return;
            m_reader.feed(m_socket->readAll());
            countPending();
        }
        while (!m_closing && m_reader.hasFrame()) {
            handleFrame(m_reader.takeFrame());
            ++framesTaken;
            if (!m_closing && answersBacklogged()) {
                m_paused = true;
                if (m_settings.idleTimeout > 0)
                    m_timer.start(m_settings.idleTimeout);
                return;
            }
            if (!m_reader.hasFrame() && m_socket->bytesAvailable() > 0 && mayRead()) {
                m_reader.feed(m_socket->readAll());
                countPending();
            }
        }
        countPending();
    } catch (const std::exception &e) {
        // An oversized frame, or memory running out on a huge one: nothing after it can be
        // trusted to be framed right.
        rejectConnection(e.what() ? QString::fromUtf8(e.what()) : QString());
        return;
    }
    if (!m_closing)
        armTimer(framesTaken, wasMidFrame);
}

void RpcSession::send(const QByteArray &frame)
{
    if (!m_closing)
        m_socket->write(frame);
}

void RpcSession::sendAndClose(const QByteArray &frame)
{
    if (m_closing)
        return;
    if (!frame.isEmpty())
        m_socket->write(frame);
    m_closing = true;
    m_timer.start(kCloseGraceMs);
    m_socket->disconnectFromHost();
}

void RpcSession::rejectConnection(const QString &text)
{
    logRejection(text);
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

void RpcSession::timedOut()
{
    if (m_closing) {
        m_socket->abort();
        end();
        return;
    }
    QString why;
    if (!m_greeted)
        why = QStringLiteral("no hello in time; disconnected");
    else if (m_paused)
        why = QStringLiteral("answers left unread for too long; disconnected");
    else if (m_reader.isMidFrame())
        why = QStringLiteral("a frame did not arrive whole in time; disconnected");
    else
        why = QStringLiteral("idle for too long; disconnected");
    logRejection(why);
    sendAndClose({});
}

void RpcSession::disconnected()
{
    if (m_reader.isMidFrame() && !m_closing)
        logRejection(QStringLiteral("connection closed in the middle of a frame"));
    m_closing = true;
    m_timer.stop();
    end();
}

void RpcSession::handleFrame(QByteArray body)
{
    if (m_greeted)
        answerCall(std::move(body));
    else if (m_challenged)
        handleProof(body);
    else
        handleHello(body);
}

void RpcSession::refuseHello(const QString &error, const QString &logged)
{
    RpcHelloReply reply;
    reply.ok = false;
    reply.error = error;
    logRejection(logged.isEmpty() ? error : logged);
    sendAndClose(encodeHelloReply(reply));
}

void RpcSession::handleHello(const QByteArray &body)
{
    RpcHello hello;
    QString error;
    try {
        hello = decodeHello(body);
        if (hello.protocol != QLatin1StringView(kProtocolName)) {
            error = QStringLiteral("Este servidor usa o protocolo %1, não \"%2\".")
                        .arg(QLatin1StringView(kProtocolName), printable(hello.protocol));
        } else if (hello.version != kProtocolVersion) {
            error = QStringLiteral("A versão %1 do protocolo não é suportada; este servidor "
                                   "usa a versão %2.")
                        .arg(hello.version)
                        .arg(kProtocolVersion);
        } else if (!hello.session.isEmpty() && !isSessionKey(hello.session)) {
            error = QStringLiteral("Uma chave de sessão tem de %1 a %2 letras, dígitos, \"-\" "
                                   "ou \"_\".")
                        .arg(kMinSessionKey)
                        .arg(kMaxSessionKey);
        }
    } catch (const RpcError &e) {
        error = e.message();
    }
    if (!error.isEmpty()) {
        refuseHello(error, {});
        return;
    }
    const QString key = hello.session.isEmpty() ? randomSessionKey() : hello.session;
    const ClientRegistry *clients = m_settings.clients.get();
    if (!clients || clients->isEmpty()) {
        m_session = sessionDigest(key);
        m_greeted = true;
        send(encodeHelloReply(RpcHelloReply()));
        return;
    }
    if (hello.client.isEmpty() || hello.nonce.size() < kNonceBytes / 2) {
        refuseHello(QStringLiteral("Este servidor só atende clientes cadastrados: informe o nome "
                                   "do cliente e o seu segredo."),
                    QStringLiteral("refused: the hello names no client"));
        return;
    }
    // An unknown name is challenged like a known one and fails at the proof, so that the
    // answer does not tell which names exist.
    m_helloClient = hello.client;
    m_helloSession = key;
    const ClientVerifier *verifier = clients->find(hello.client);
    if (verifier)
        m_verifier = *verifier;
    const ClientVerifier shown = verifier ? *verifier : clients->decoy(hello.client);
    RpcHelloReply challenge;
    challenge.ok = false;
    challenge.challenge = randomBytes(kNonceBytes);
    challenge.salt = shown.salt;
    challenge.iterations = shown.iterations;
    m_authMessage = authMessage(hello.client, hello.nonce, challenge.challenge);
    m_challenged = true;
    send(encodeHelloReply(challenge));
}

void RpcSession::handleProof(const QByteArray &body)
{
    bool valid = false;
    try {
        const RpcProof proof = decodeProof(body);
        valid = m_verifier && proofIsValid(*m_verifier, m_authMessage, proof.proof);
    } catch (const RpcError &) {
        valid = false;
    }
    if (!valid) {
        // Never the proof or anything derived from the secret in the log.
        refuseHello(QStringLiteral("Cliente ou segredo não reconhecido."),
                    QStringLiteral("refused: client \"%1\" did not prove its secret")
                        .arg(printable(m_helloClient)));
        return;
    }
    RpcHelloReply reply;
    reply.signature = serverSignature(*m_verifier, m_authMessage);
    m_client = m_helloClient;
    // The client's lists are its own: the same session key under another client is another
    // session.
    m_session = sessionDigest(m_client, m_helloSession);
    m_peer = m_client + u'@' + m_peer;
    m_greeted = true;
    m_challenged = false;
    m_authMessage.clear();
    send(encodeHelloReply(reply));
}

void ClientRegistry::add(const QString &name, const ClientVerifier &verifier)
{
    if (!isPlainName(name))
        throw std::invalid_argument("a client's name is letters, digits, \"_\", \".\" or \"-\"");
    m_clients.insert(name, verifier);
}

const ClientVerifier *ClientRegistry::find(const QString &name) const
{
    const auto it = m_clients.constFind(name);
    return it == m_clients.cend() ? nullptr : &it.value();
}

ClientVerifier ClientRegistry::decoy(const QString &name) const
{
    ClientVerifier v;
    v.iterations = m_clients.isEmpty() ? kDefaultSecretIterations : m_clients.cbegin()->iterations;
    v.salt = QMessageAuthenticationCode::hash(name.toUtf8(), m_decoyKey, QCryptographicHash::Sha256)
                 .left(16);
    return v;
}

namespace {

// Whatever the handler throws becomes the answer's error; a failed call sends back no result
// and no by-reference values.
void runHandler(const RpcHandler &handler, RpcCall &call, const QString &session, RpcAnswer &answer)
{
    RpcArgs args(call.method, std::move(call.args), call.byRef);
    args.setSession(session);
    try {
        answer.result = handler(args);
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
        answer.error = QStringLiteral("%1 falhou.").arg(call.method);
    }
    if (answer.failed) {
        answer.result = RpcValue();
        answer.refs.clear();
    }
}

// An answer too large to send is replaced by the error that says so. In pieces, so that a page
// of lines goes to the socket as it is instead of being copied into the frame.
QList<QByteArray> encodeAnswerWithin(RpcAnswer &answer, qint64 maxFrameSize)
{
    try {
        return encodeAnswerPieces(answer, maxFrameSize);
    } catch (const RpcError &e) {
        answer = RpcAnswer{answer.id, true, e.message(), {}, {}};
        return {encodeAnswer(answer, maxFrameSize)};
    }
}

} // namespace

void RpcSession::answerCall(QByteArray body)
{
    QElapsedTimer clock;
    clock.start();
    RpcCallRecord record;
    record.peer = m_peer;
    RpcAnswer answer;
    RpcCall call;
    try {
        call = decodeCall(std::move(body));
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
        runHandler(*handler, call, m_session, answer);
    } else {
        answer.failed = true;
        answer.error = unknown;
    }

    const QList<QByteArray> frame = encodeAnswerWithin(answer, m_settings.maxFrameSize);
    record.microseconds = clock.nsecsElapsed() / 1000;
    record.ok = !answer.failed;
    record.error = answer.error;
    for (const QByteArray &piece : frame)
        send(piece);
    emit callFinished();
    log(record);
}

} // namespace fis

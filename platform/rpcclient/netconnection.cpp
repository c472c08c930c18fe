#include "rpcclient/netconnection.h"

#include "rpc/clientauth.h"
#include "rpc/rpcprotocol.h"

#include <QDeadlineTimer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <climits>

namespace fis {

namespace {
constexpr qint64 kSocketReadBuffer = 1024 * 1024;
}

NetConnection::NetConnection(QObject *parent)
    : RpcCaller(parent)
    , m_sessionKey(randomSessionKey())
    , m_reader(kDefaultMaxFrameSize)
{}

NetConnection::~NetConnection()
{
    close();
}

void NetConnection::setMaxFrameSize(qint64 bytes)
{
    m_maxFrameSize = bytes;
    m_reader.setMaxFrameSize(bytes);
}

QString NetConnection::where() const
{
    return m_host + u':' + QString::number(m_port);
}

void NetConnection::open()
{
    if (m_open)
        return;
    connectSocket();
    m_open = true;
}

void NetConnection::close()
{
    m_open = false;
    dropSocket();
}

void NetConnection::setConnected(bool connected)
{
    if (connected)
        open();
    else
        close();
}

void NetConnection::dropSocket()
{
    if (m_socket) {
        m_socket->abort();
        delete m_socket;
        m_socket = nullptr;
    }
    m_reader.reset();
}

void NetConnection::fail(RpcError::Kind kind, const QString &message)
{
    m_open = false;
    dropSocket();
    throw RpcError(kind, message);
}

void NetConnection::connectSocket()
{
    dropSocket();
    emit beforeConnect(this);
    if (m_host.isEmpty())
        fail(RpcError::Kind::ConnectFailed,
             QStringLiteral("Nenhum host foi informado para o servidor de aplicação."));
    if (m_port <= 0 || m_port > 65535)
        fail(RpcError::Kind::ConnectFailed,
             QStringLiteral("A porta %1 do servidor de aplicação não é válida.").arg(m_port));

    const QDeadlineTimer deadline(m_connectTimeout);
    m_socket = m_tls.enabled ? new QSslSocket(this) : new QTcpSocket(this);
    // The frame reader keeps what arrives; a bounded socket buffer keeps a large answer from
    // sitting in memory twice while it is read.
    m_socket->setReadBufferSize(kSocketReadBuffer);
    if (m_tls.enabled)
        startTls(deadline);
    else
        m_socket->connectToHost(m_host, quint16(m_port));
    if (!m_tls.enabled && !m_socket->waitForConnected(m_connectTimeout)) {
        const bool timedOut = m_socket->error() == QAbstractSocket::SocketTimeoutError;
        fail(timedOut ? RpcError::Kind::Timeout : RpcError::Kind::ConnectFailed,
             QStringLiteral("Não foi possível conectar ao servidor de aplicação em %1: %2.")
                 .arg(where(), m_socket->errorString()));
    }
    // Small calls must not wait for Nagle's algorithm.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);

    RpcHelloReply reply;
    try {
        RpcHello hello;
        hello.session = m_sessionKey;
        if (!m_client.isEmpty()) {
            hello.client = m_client;
            hello.nonce = randomBytes(kNonceBytes);
        }
        writeFrame(encodeHello(hello), deadline, "durante a saudação");
        reply = decodeHelloReply(readFrame(deadline, "durante a saudação"));
        if (reply.isChallenge())
            reply = answerChallenge(hello, reply, deadline);
    } catch (const RpcError &e) {
        if (e.kind() != RpcError::Kind::Protocol)
            throw;
        fail(RpcError::Kind::Handshake,
             QStringLiteral("O servidor em %1 não usa este protocolo: %2")
                 .arg(where(), e.message()));
    }
    if (!reply.ok)
        fail(RpcError::Kind::Handshake,
             QStringLiteral("O servidor de aplicação em %1 recusou a conexão: %2")
                 .arg(where(), reply.error));
    if (reply.version != kProtocolVersion)
        fail(RpcError::Kind::Handshake,
             QStringLiteral("O servidor de aplicação em %1 respondeu com a versão %2 do protocolo.")
                 .arg(where())
                 .arg(reply.version));
}

RpcHelloReply NetConnection::answerChallenge(const RpcHello &hello, const RpcHelloReply &challenge,
                                             const QDeadlineTimer &deadline)
{
    if (m_client.isEmpty())
        fail(RpcError::Kind::Handshake,
             QStringLiteral("O servidor de aplicação em %1 exige o nome do cliente e o seu "
                            "segredo, e nenhum foi configurado.")
                 .arg(where()));
    if (challenge.iterations < kMinSecretIterations)
        fail(RpcError::Kind::Handshake,
             QStringLiteral("O servidor de aplicação em %1 pediu uma prova fraca demais.")
                 .arg(where()));
    if (m_secretSource) {
        try {
            m_secret = m_secretSource();
        } catch (const Error &e) {
            fail(RpcError::Kind::Handshake, e.message());
        }
        m_secretSource = nullptr;
    }
    const QByteArray saltedFor = challenge.salt + QByteArray::number(challenge.iterations);
    if (m_saltedFor != saltedFor) {
        m_salted = saltedSecret(m_secret, challenge.salt, int(challenge.iterations));
        m_saltedFor = saltedFor;
    }
    const QByteArray message = authMessage(m_client, hello.nonce, challenge.challenge);
    writeFrame(encodeProof(RpcProof{clientProof(m_salted, message)}), deadline,
               "durante a saudação");
    RpcHelloReply reply = decodeHelloReply(readFrame(deadline, "durante a saudação"));
    if (reply.ok && !sameBytes(reply.signature, expectedServerSignature(m_salted, message)))
        fail(RpcError::Kind::Handshake,
             QStringLiteral("O servidor de aplicação em %1 não provou conhecer este cliente.")
                 .arg(where()));
    return reply;
}

void NetConnection::startTls(const QDeadlineTimer &deadline)
{
    auto *tls = static_cast<QSslSocket *>(m_socket);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setProtocol(QSsl::TlsV1_2OrLater);
    const QByteArray pin =
        QByteArray::fromHex(m_tls.fingerprint.toLatin1().replace(':', "").trimmed());
    if (!m_tls.fingerprint.isEmpty() && pin.size() != 32)
        fail(RpcError::Kind::ConnectFailed,
             QStringLiteral("A impressão digital do servidor deve ser um SHA-256 em "
                            "hexadecimal."));
    if (!pin.isEmpty()) {
        // The pinned certificate is checked below, whoever signed it.
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
    } else if (!m_tls.caFile.isEmpty()) {
        const QList<QSslCertificate> cas = QSslCertificate::fromPath(m_tls.caFile);
        if (cas.isEmpty())
            fail(RpcError::Kind::ConnectFailed,
                 QStringLiteral("Os certificados de %1 não podem ser lidos.").arg(m_tls.caFile));
        config.setCaCertificates(cas);
    }
    tls->setSslConfiguration(config);
    tls->connectToHostEncrypted(m_host, quint16(m_port));
    if (!tls->waitForEncrypted(int(std::max<qint64>(1, deadline.remainingTime())))) {
        const bool timedOut = tls->error() == QAbstractSocket::SocketTimeoutError;
        QStringList why;
        for (const QSslError &e : tls->sslHandshakeErrors())
            why << e.errorString();
        fail(timedOut ? RpcError::Kind::Timeout : RpcError::Kind::ConnectFailed,
             QStringLiteral("A conexão segura com o servidor de aplicação em %1 falhou: %2.")
                 .arg(where(), why.isEmpty() ? tls->errorString() : why.join(u"; ")));
    }
    if (!pin.isEmpty() &&
        !sameBytes(tls->peerCertificate().digest(QCryptographicHash::Sha256), pin))
        fail(RpcError::Kind::ConnectFailed,
             QStringLiteral("O certificado do servidor de aplicação em %1 não é o configurado "
                            "(impressão digital diferente).")
                 .arg(where()));
}

void NetConnection::setCredentials(const QString &client, const QByteArray &secret)
{
    if (client != m_client || secret != m_secret || m_secretSource) {
        m_salted.clear();
        m_saltedFor.clear();
    }
    m_client = client;
    m_secret = secret;
    m_secretSource = nullptr;
}

void NetConnection::setCredentials(const QString &client, std::function<QByteArray()> source)
{
    m_salted.clear();
    m_saltedFor.clear();
    m_client = client;
    m_secret.clear();
    m_secretSource = std::move(source);
}

void NetConnection::reconnectIfDroppedWhileIdle()
{
    bool dropped = !m_socket || m_socket->state() != QAbstractSocket::ConnectedState;
    if (!dropped) {
        // Without an event loop a close by the server only shows once the socket is polled.
        m_socket->waitForReadyRead(0);
        // Nothing is owed to us between calls: anything that arrived is the server's farewell.
        dropped = m_socket->state() != QAbstractSocket::ConnectedState ||
                  m_socket->bytesAvailable() > 0 || m_reader.isMidFrame() || m_reader.hasFrame();
    }
    if (dropped)
        connectSocket();
}

namespace {

int waitMsecs(const QDeadlineTimer &deadline)
{
    if (deadline.isForever())
        return -1;
    return int(std::clamp<qint64>(deadline.remainingTime(), 0, INT_MAX));
}

} // namespace

void NetConnection::writeFrame(const QByteArray &frame, const QDeadlineTimer &deadline,
                               const char *stage)
{
    const QString during = QString::fromUtf8(stage);
    if (m_socket->write(frame) != frame.size())
        fail(RpcError::Kind::ConnectionLost,
             QStringLiteral("A conexão com o servidor de aplicação em %1 caiu %2: %3.")
                 .arg(where(), during, m_socket->errorString()));
    while (m_socket->bytesToWrite() > 0) {
        if (deadline.hasExpired())
            fail(RpcError::Kind::Timeout,
                 QStringLiteral(
                     "O servidor de aplicação em %1 ficou tempo demais sem receber nada %2.")
                     .arg(where(), during));
        if (!m_socket->waitForBytesWritten(waitMsecs(deadline)) &&
            (m_socket->state() != QAbstractSocket::ConnectedState ||
             m_socket->error() != QAbstractSocket::SocketTimeoutError))
            failWithFarewell(during);
    }
}

void NetConnection::failWithFarewell(const QString &during)
{
    // The server may have said why before it closed (a call over its size limit, say).
    QString farewell;
    try {
        m_reader.feed(m_socket->readAll());
        if (m_reader.hasFrame())
            farewell = decodeAnswer(m_reader.takeFrame()).error;
    } catch (const RpcError &) {
        // Nothing readable came: the broken connection is all there is to report.
    }
    if (!farewell.isEmpty())
        fail(RpcError::Kind::Protocol,
             QStringLiteral("O servidor de aplicação encerrou a conexão: %1").arg(farewell));
    fail(RpcError::Kind::ConnectionLost,
         QStringLiteral("A conexão com o servidor de aplicação em %1 caiu %2: %3.")
             .arg(where(), during, m_socket->errorString()));
}

QByteArray NetConnection::readFrame(const QDeadlineTimer &deadline, const char *stage)
{
    const QString during = QString::fromUtf8(stage);
    while (!m_reader.hasFrame()) {
        if (m_socket->bytesAvailable() > 0) {
            try {
                m_reader.feed(m_socket->readAll());
            } catch (const RpcError &e) {
                fail(e.kind(), QStringLiteral("O servidor de aplicação em %1 enviou um quadro "
                                              "grande demais %2: %3")
                                   .arg(where(), during, e.message()));
            }
            continue;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            fail(RpcError::Kind::ConnectionLost,
                 QStringLiteral("O servidor de aplicação em %1 fechou a conexão %2.")
                     .arg(where(), during));
        if (deadline.hasExpired())
            fail(RpcError::Kind::Timeout,
                 QStringLiteral("O servidor de aplicação em %1 não respondeu a tempo %2.")
                     .arg(where(), during));
        if (!m_socket->waitForReadyRead(waitMsecs(deadline)) &&
            m_socket->state() == QAbstractSocket::ConnectedState &&
            m_socket->error() != QAbstractSocket::SocketTimeoutError)
            fail(RpcError::Kind::ConnectionLost,
                 QStringLiteral("A conexão com o servidor de aplicação em %1 caiu %2: %3.")
                     .arg(where(), during, m_socket->errorString()));
    }
    return m_reader.takeFrame();
}

RpcValue NetConnection::call(const QString &method, const QList<RpcArg> &args)
{
    return callObject(m_serverName, method, args);
}

namespace {

RpcCall makeCall(const QString &object, const QString &method, const QList<RpcArg> &args,
                 quint64 id)
{
    RpcCall call;
    call.object = object;
    call.method = method;
    call.args.reserve(args.size());
    for (qsizetype i = 0; i < args.size(); ++i) {
        call.args.append(args.at(i).value());
        if (args.at(i).isByRef())
            call.byRef.append(i);
    }
    call.id = id;
    return call;
}

// All by-reference values are checked before any variable changes.
void checkByRefValues(const QString &method, const RpcCall &call, const RpcAnswer &answer,
                      const QList<RpcArg> &args)
{
    for (auto it = answer.refs.cbegin(); it != answer.refs.cend(); ++it) {
        const qsizetype i = it.key();
        if (!call.byRef.contains(i))
            throw RpcError(RpcError::Kind::BadValue,
                           QStringLiteral("%1 devolveu o argumento %2, que não foi passado por "
                                          "referência.")
                               .arg(method)
                               .arg(i + 1));
        if (!args.at(i).accepts(it.value()))
            throw RpcError(RpcError::Kind::BadValue,
                           QStringLiteral("%1 devolveu o argumento %2 como %3, que a sua variável "
                                          "não comporta.")
                               .arg(method)
                               .arg(i + 1)
                               .arg(RpcValue::kindName(it.value().kind())));
    }
}

void assignByRefValues(const RpcAnswer &answer, const QList<RpcArg> &args)
{
    for (auto it = answer.refs.cbegin(); it != answer.refs.cend(); ++it)
        args.at(it.key()).assign(it.value());
}

} // namespace

RpcValue NetConnection::callObject(const QString &object, const QString &method,
                                   const QList<RpcArg> &args)
{
    if (!m_open)
        throw RpcError(RpcError::Kind::NotConnected,
                       QStringLiteral("A conexão com o servidor de aplicação não está aberta."));

    const RpcCall call = makeCall(object, method, args, ++m_nextId);
    // A call too large to send fails here, before anything touches the connection.
    const QByteArray frame = encodeCall(call, m_maxFrameSize);

    reconnectIfDroppedWhileIdle();
    const QDeadlineTimer deadline =
        m_callTimeout > 0 ? QDeadlineTimer(m_callTimeout) : QDeadlineTimer(QDeadlineTimer::Forever);
    const QByteArray stage = QStringLiteral("durante %1").arg(method).toUtf8();
    writeFrame(frame, deadline, stage.constData());
    QByteArray body = readFrame(deadline, stage.constData());

    RpcAnswer answer;
    try {
        answer = decodeAnswer(std::move(body));
    } catch (const RpcError &e) {
        fail(RpcError::Kind::Protocol,
             QStringLiteral("A resposta do servidor de aplicação a %1 não pode ser lida: %2")
                 .arg(method, e.message()));
    }
    if (!answer.id)
        fail(RpcError::Kind::Protocol,
             QStringLiteral("O servidor de aplicação encerrou a conexão: %1").arg(answer.error));
    if (*answer.id != call.id)
        fail(RpcError::Kind::Protocol, QStringLiteral("O servidor de aplicação respondeu à chamada "
                                                      "%1 enquanto a chamada %2 (%3) aguardava.")
                                           .arg(*answer.id)
                                           .arg(call.id)
                                           .arg(method));
    if (answer.failed)
        throw RpcError(RpcError::Kind::Server, answer.error);

    checkByRefValues(method, call, answer, args);
    assignByRefValues(answer, args);
    return answer.result;
}

} // namespace fis

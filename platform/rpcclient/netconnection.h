#pragma once

#include "rpc/appserver.h"
#include "rpc/framereader.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"
#include "rpc/rpcvalue.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <concepts>
#include <functional>
#include <type_traits>
#include <variant>

class QDeadlineTimer;
class QTcpSocket;

namespace fis {

// The client side of a connection to an application server object.
//
// Calls are synchronous: the calling thread blocks in the socket's own waits, without running an
// event loop, so no other user handler can run in between. Use it from one thread only.
//
// Every failure throws RpcError; nothing waits longer than the connect or call timeout:
// - open(): ConnectFailed (refused, unreachable, no host), Timeout, Handshake.
// - call(): NotConnected before open() or after a failure that closed the connection;
//   Timeout, ConnectionLost, Protocol, FrameTooLarge (answer over the limit) - these close the
//   connection, since the stream can no longer be trusted, and only open() opens it again;
//   Server with the server's error text, and FrameTooLarge for a call too large to send - these
//   leave the connection open.
// When the server closed an idle connection (it does after its idle timeout), the next call
// connects again first, emitting beforeConnect as any connecting does.
class NetConnection : public RpcCaller
{
    Q_OBJECT
    Q_PROPERTY(QString serverName READ serverName WRITE setServerName)
    Q_PROPERTY(QString host READ host WRITE setHost)
    Q_PROPERTY(int port READ port WRITE setPort)
    Q_PROPERTY(bool connected READ isConnected WRITE setConnected)
public:
    static constexpr int kDefaultConnectTimeout = 10 * 1000;
    // A first call may make the server build a million lines before it answers.
    static constexpr int kDefaultCallTimeout = 10 * 60 * 1000;

    explicit NetConnection(QObject *parent = nullptr);
    ~NetConnection() override;

    // The server object that call() and appServer() address, e.g. "FIS11000.rdmCompraLEGALBA".
    QString serverName() const { return m_serverName; }
    void setServerName(const QString &name) { m_serverName = name; }
    QString host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    int port() const { return m_port; }
    void setPort(int port) { m_port = port; }

    int connectTimeout() const { return m_connectTimeout; }
    void setConnectTimeout(int msecs) { m_connectTimeout = msecs; }
    int callTimeout() const { return m_callTimeout; }
    void setCallTimeout(int msecs) { m_callTimeout = msecs; }
    qint64 maxFrameSize() const { return m_maxFrameSize; }
    void setMaxFrameSize(qint64 bytes);

    // The key every hello of this connection carries, drawn at random when the connection is
    // made: the server lets only this session continue or delete the export lists it takes.
    // Changing it makes the next connecting a new session.
    QString sessionKey() const { return m_sessionKey; }
    void setSessionKey(const QString &key) { m_sessionKey = key; }
    // The name this client is known by in the server's configuration and its secret, proved in
    // every hello without being sent (rpc/clientauth.h). Empty name: none proved.
    void setCredentials(const QString &client, const QByteArray &secret);
    // The same with the secret read when a server first asks for it; `source` throws fis::Error
    // when it cannot be read, which fails that connection with the error's text.
    void setCredentials(const QString &client, std::function<QByteArray()> source);
    QString clientName() const { return m_client; }

    // TLS to the server, checked against the CA certificates of `caFile` (PEM) or, when
    // `fingerprint` is given (the SHA-256 of the server's certificate, hex, colons allowed),
    // against that certificate alone.
    struct Tls
    {
        bool enabled = false;
        QString caFile;
        QString fingerprint;
    };
    void setTls(const Tls &tls) { m_tls = tls; }
    const Tls &tls() const { return m_tls; }

    // Emits beforeConnect, connects and exchanges the hello. Does nothing when already open.
    // Throws RpcError (ConnectFailed, Timeout, Handshake); the connection stays closed then.
    void open();
    // Closes the connection; harmless when it is not open.
    void close();
    bool isConnected() const { return m_open; }
    // open() or close().
    void setConnected(bool connected);

    // Calls a method of the object named by serverName(). By-reference arguments are written
    // back into the caller's variables after a successful answer, all of them or (when one
    // comes back as a kind its variable cannot hold: RpcError(Protocol)) none.
    RpcValue call(const QString &method, const QList<RpcArg> &args = {});
    // The same on another object of the same server.
    RpcValue callObject(const QString &object, const QString &method,
                        const QList<RpcArg> &args) override;

    AppServer appServer() { return AppServer(this, m_serverName); }

signals:
    // Emitted just before every connecting; a handler may set host and port.
    void beforeConnect(fis::NetConnection *connection);

private:
    void connectSocket();
    void reconnectIfDroppedWhileIdle();
    void startTls(const QDeadlineTimer &deadline);
    RpcHelloReply answerChallenge(const RpcHello &hello, const RpcHelloReply &challenge,
                                  const QDeadlineTimer &deadline);
    void writeFrame(const QByteArray &frame, const QDeadlineTimer &deadline, const char *stage);
    [[noreturn]] void failWithFarewell(const QString &during);
    QByteArray readFrame(const QDeadlineTimer &deadline, const char *stage);
    void dropSocket();
    [[noreturn]] void fail(RpcError::Kind kind, const QString &message);
    QString where() const;

    QString m_serverName;
    QString m_host;
    int m_port = 0;
    int m_connectTimeout = kDefaultConnectTimeout;
    int m_callTimeout = kDefaultCallTimeout;
    qint64 m_maxFrameSize = kDefaultMaxFrameSize;
    QString m_sessionKey;
    QString m_client;
    Tls m_tls;
    QByteArray m_secret;
    std::function<QByteArray()> m_secretSource;
    // The slow derivation of the secret, kept for the salt and rounds it was made with.
    QByteArray m_salted;
    QByteArray m_saltedFor;
    QTcpSocket *m_socket = nullptr;
    FrameReader m_reader;
    quint64 m_nextId = 0;
    bool m_open = false;
};

} // namespace fis

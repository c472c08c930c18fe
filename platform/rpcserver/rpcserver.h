#pragma once

#include "rpcserver/rpcmethodtable.h"
#include "rpcserver/rpcsession.h"

#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QTcpServer;

namespace fis {

// Serves the registered objects' methods to any number of clients over TCP.
//
// Everything runs on the event loop of the thread that owns the server: clients are served at
// once, but methods run one at a time, each to its end, so handlers need no locking among
// themselves. A handler must not spin the event loop. A long method delays the other clients'
// answers (not their connections); run more server processes when that matters.
//
// A client that breaks the protocol - garbage, an oversized or truncated frame, a wrong hello,
// a call before the hello - is sent an error (when it can still be framed) and disconnected;
// every other client carries on. Unknown objects or methods and failing handlers only earn an
// error answer; the connection stays.
//
// Each client is an RpcSession over the server's RpcMethodTable; a process that accepts in one
// thread and serves in others builds on those two directly.
class RpcServer : public QObject
{
    Q_OBJECT
public:
    explicit RpcServer(QObject *parent = nullptr);
    ~RpcServer() override;

    // Object and method names match ignoring letter case, as late-bound calls do. Throws
    // std::invalid_argument for an empty name, a missing handler or a method registered twice.
    void registerMethod(const QString &object, const QString &method, RpcHandler handler);

    // Port 0 picks a free port (see serverPort()). Returns false, with errorString() set, when
    // the address cannot be bound.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Stops listening and disconnects every client.
    void close();
    bool isListening() const;
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    QString errorString() const;

    // A client that sends nothing for this long is disconnected; 0 never. Default 30 minutes.
    void setIdleTimeout(int msecs) { m_settings.idleTimeout = msecs; }
    int idleTimeout() const { return m_settings.idleTimeout; }
    // Time a new client has to send its hello. Default 10 seconds.
    void setHandshakeTimeout(int msecs) { m_settings.handshakeTimeout = msecs; }
    int handshakeTimeout() const { return m_settings.handshakeTimeout; }
    // Largest frame taken in and sent out. Default kDefaultMaxFrameSize.
    void setMaxFrameSize(qint64 bytes) { m_settings.maxFrameSize = bytes; }
    qint64 maxFrameSize() const { return m_settings.maxFrameSize; }
    // Largest frame taken in, when lower than maxFrameSize(). Default kDefaultMaxRequestSize.
    void setMaxRequestSize(qint64 bytes) { m_settings.maxRequestSize = bytes; }
    // The clients that must prove their secret in the hello; null or empty: anyone may call.
    void setClients(std::shared_ptr<const ClientRegistry> clients)
    {
        m_settings.clients = std::move(clients);
    }
    // Time a frame has from its first byte to its last. Default 2 minutes.
    void setFrameTimeout(int msecs) { m_settings.frameTimeout = msecs; }

    // Called after every call, also for failed and rejected ones. Runs in the server's thread.
    void setCallLogger(std::function<void(const RpcCallRecord &)> logger);
    // Called when a greeted client's connection ends, with its session (RpcSession::session()).
    void setSessionEndedHandler(std::function<void(const QString &session)> handler)
    {
        m_settings.sessionEnded = std::move(handler);
    }

    qsizetype clientCount() const;

private:
    void acceptClients();

    QTcpServer *m_tcp;
    QSet<RpcSession *> m_clients;
    RpcMethodTable m_methods;
    RpcSessionSettings m_settings;
};

} // namespace fis

#pragma once

#include "rpc/framereader.h"
#include "rpc/rpcargs.h"
#include "rpc/rpcvalue.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QTcpServer;

namespace fis {

// A method of a server object. It reads its arguments from `args`, may change them (the
// by-reference ones go back to the caller) and returns the result. Whatever it throws becomes
// the answer's error text: an RpcError's message or a std::exception's what().
using RpcHandler = std::function<RpcValue(RpcArgs &args)>;

// What the server knows of one finished call, for a one-line log.
struct RpcCallRecord
{
    QString peer;   // address:port of the client
    QString object; // as the client named it
    QString method;
    qint64 microseconds = 0; // from the decoded call to the encoded answer
    bool ok = false;
    QString error; // the answer's error text when not ok

    // "127.0.0.1:40312 FIS11000.rdmCompraLEGALBA.GetLista 0.4 ms ok" or "... error: <text>";
    // a connection rejected outside any call: "127.0.0.1:40312 - error: <text>".
    QString toLogLine() const;
};

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
    void setIdleTimeout(int msecs) { m_idleTimeout = msecs; }
    int idleTimeout() const { return m_idleTimeout; }
    // Time a new client has to send its hello. Default 10 seconds.
    void setHandshakeTimeout(int msecs) { m_handshakeTimeout = msecs; }
    int handshakeTimeout() const { return m_handshakeTimeout; }
    // Largest frame taken in and sent out. Default kDefaultMaxFrameSize.
    void setMaxFrameSize(qint64 bytes) { m_maxFrameSize = bytes; }
    qint64 maxFrameSize() const { return m_maxFrameSize; }

    // Called after every call, also for failed and rejected ones. Runs in the server's thread.
    void setCallLogger(std::function<void(const RpcCallRecord &)> logger);

    qsizetype clientCount() const;

private:
    class Client;
    friend class Client;

    void acceptClients();
    void handleFrame(Client *client, const QByteArray &body);
    void answerCall(Client *client, const QByteArray &body);

    void log(const RpcCallRecord &record) const;

    QTcpServer *m_tcp;
    QSet<Client *> m_clients;
    // Lower-cased object name, then lower-cased method name.
    QHash<QString, QHash<QString, RpcHandler>> m_objects;
    std::function<void(const RpcCallRecord &)> m_logger;
    int m_idleTimeout = 30 * 60 * 1000;
    int m_handshakeTimeout = 10 * 1000;
    qint64 m_maxFrameSize = kDefaultMaxFrameSize;
};

} // namespace fis

#pragma once

#include "rpc/clientauth.h"
#include "rpc/framereader.h"
#include "rpcserver/rpcmethodtable.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QSslConfiguration;
class QTcpSocket;

namespace fis {

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

// Bytes received in frames not yet whole, over every session that shares it. A session that
// would take the total past the limit stops reading until others complete their frames or go;
// its client's sends stall meanwhile.
class PendingBytes
{
public:
    explicit PendingBytes(qint64 limit)
        : m_limit(limit)
    {}
    qint64 limit() const { return m_limit; }
    qint64 total() const { return m_total.load(std::memory_order_relaxed); }
    // True when `more` bytes fit beside what is held; `held` are the caller's own.
    bool fits(qint64 more, qint64 held) const
    {
        return total() + more <= m_limit || (held == 0 && more <= kSmallRead);
    }
    // A session holding nothing may always take this much: a small call is never held up.
    static constexpr qint64 kSmallRead = qint64(64) << 10;
    void add(qint64 delta) { m_total.fetch_add(delta, std::memory_order_relaxed); }

private:
    const qint64 m_limit;
    std::atomic<qint64> m_total{0};
};

// The clients a server knows, each with the verifier of its secret (rpc/clientauth.h).
class ClientRegistry
{
public:
    // Throws std::invalid_argument for a name that is not a plain name.
    void add(const QString &name, const ClientVerifier &verifier);
    const ClientVerifier *find(const QString &name) const;
    bool isEmpty() const { return m_clients.isEmpty(); }
    // The salt and rounds an unknown name is challenged with: always the same for one name in
    // one process, so that the challenge does not tell names that exist from names that do not.
    ClientVerifier decoy(const QString &name) const;

private:
    QHash<QString, ClientVerifier> m_clients;
    QByteArray m_decoyKey = randomBytes(32);
};

// What the sessions of one server share: its methods and the connection limits. Sessions read
// it by reference, so it must outlive them; a change applies to what they do next.
struct RpcSessionSettings
{
    const RpcMethodTable *methods = nullptr; // must be set before the first call arrives
    int idleTimeout = 30 * 60 * 1000; // msecs between frames, or answers left unread; 0: never
    int handshakeTimeout = 10 * 1000; // msecs from the connection to a whole hello
    int frameTimeout = 2 * 60 * 1000; // msecs a frame, once begun, has to arrive whole; 0: never
    qint64 maxFrameSize = kDefaultMaxFrameSize;     // largest frame taken in and sent out
    qint64 maxRequestSize = kDefaultMaxRequestSize; // largest frame taken in, when lower
    // While more than this of the answers waits to be sent, no further call is read: a client
    // that does not read its answers stops being read instead of growing the server.
    qint64 maxUnsentBytes = qint64(1) << 20;
    // Partial frames over all sessions; none when null.
    std::shared_ptr<PendingBytes> pending;
    // When set and not empty, every client must name itself in its hello and prove its secret
    // before any call; null or empty: anyone who connects may call.
    std::shared_ptr<const ClientRegistry> clients;
    // When set, connections accepted by descriptor speak TLS with this configuration (the
    // server's certificate and key) before anything else.
    std::shared_ptr<const QSslConfiguration> tls;
    // Called after every call, also for failed and rejected ones, in the session's thread.
    std::function<void(const RpcCallRecord &)> logger;
    // Called when a greeted client's connection ends, with its session(), in the session's
    // thread. The client may connect again later with the same session.
    std::function<void(const QString &session)> sessionEnded;
};

// One client connection: the hello, then calls answered one after the other, each to its end,
// in the thread that owns the session. A handler must not spin the event loop.
//
// Deadlines do not move with a trickle of bytes: the hello has handshakeTimeout from the
// connection, a frame frameTimeout from its first byte, and idleTimeout runs from the last whole
// frame or from the last answer bytes the client took.
//
// A client that breaks the protocol - garbage, an oversized or truncated frame, a wrong hello,
// a call before the hello - is sent an error (when it can still be framed) and disconnected.
// Unknown objects or methods and failing handlers only earn an error answer; the connection
// stays.
class RpcSession : public QObject
{
    Q_OBJECT
public:
    // Serves a connected socket, which the session takes over.
    RpcSession(QTcpSocket *socket, const RpcSessionSettings &settings, QObject *parent = nullptr);
    // Serves a socket accepted elsewhere, typically by a listener in another thread. When the
    // descriptor cannot be used, that is logged and the session ends with the next turn of the
    // event loop.
    RpcSession(qintptr descriptor, const RpcSessionSettings &settings, QObject *parent = nullptr);
    ~RpcSession() override;

    // address:port of the client; empty when the descriptor could not be used.
    const QString &peer() const { return m_peer; }
    // Who the client is across its connections: the SHA-256, in hex, of the session key its
    // hello carried, so that any server can check it and none stores the key itself. A hello
    // without a key gets one drawn at random: that client's session is this connection.
    // Empty until the hello.
    const QString &session() const { return m_session; }
    // The name the client proved its secret for; empty when the server asks for none.
    const QString &client() const { return m_client; }
    // The digest session() gives for a key, and for a key under a client that proved its
    // secret: the same key under another client is another session.
    static QString sessionDigest(const QString &key);
    static QString sessionDigest(const QString &client, const QString &key);
    // Disconnects at once; finished() follows.
    void drop();

signals:
    // The connection is over; the session deletes itself afterwards.
    void finished();
    // A call's method is about to run, or its answer has been sent.
    void callStarted();
    void callFinished();

private:
    explicit RpcSession(const RpcSessionSettings &settings, QObject *parent);
    void start();
    void readFrames();
    // By value: a call takes the frame over, so that a large packet in it is not copied.
    void handleFrame(QByteArray body);
    void handleHello(const QByteArray &body);
    void handleProof(const QByteArray &body);
    void refuseHello(const QString &error, const QString &logged);
    void answerCall(QByteArray body);
    void send(const QByteArray &frame);
    void sendAndClose(const QByteArray &frame);
    void rejectConnection(const QString &text);
    void timedOut();
    void disconnected();
    void armTimer(qsizetype framesTaken, bool wasMidFrame);
    bool answersBacklogged() const;
    void answersSent();
    // Brings this session's share of the pending bytes up to date.
    void countPending();
    void end();
    void log(const RpcCallRecord &record) const;
    void logRejection(const QString &text) const;

    const RpcSessionSettings &m_settings;
    QTcpSocket *m_socket = nullptr;
    FrameReader m_reader;
    QTimer m_timer;
    QString m_peer;
    QString m_session;
    QString m_client;
    // Between the challenge and the proof.
    bool m_challenged = false;
    QString m_helloClient;
    QString m_helloSession;
    QByteArray m_authMessage;
    std::optional<ClientVerifier> m_verifier; // none: an unknown name, bound to fail
    bool m_greeted = false;
    bool m_paused = false;       // answers waiting to be read: calls are not read meanwhile
    qint64 m_pendingCounted = 0; // this session's share of m_settings.pending
    QTimer m_pendingRetry;       // reading again once others' partial frames may have gone
    bool m_pendingWait = false;  // paused for them; logged once a pause
    bool m_closing = false;
    bool m_ended = false;
};

} // namespace fis

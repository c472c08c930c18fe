#pragma once

#include "rpc/framereader.h"
#include "rpc/rpcserver.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QTcpSocket;

namespace fis {

class MethodTable;

// What every session of a worker shares: its methods and the connection limits.
struct SessionSettings
{
    const MethodTable *methods = nullptr;
    int idleTimeoutMs = 30 * 60 * 1000; // 0: never
    int handshakeTimeoutMs = 10 * 1000;
    qint64 maxFrameSize = kDefaultMaxFrameSize;
    std::function<void(const RpcCallRecord &)> logger;
};

// One client connection served by a worker thread: the hello, then calls answered one after the
// other, in the wire protocol of the rpc library (its frame reader, encoders and decoders).
//
// The socket is made from a descriptor that the listening thread accepted, which is why this is
// not RpcServer's own client class: RpcServer can only serve sockets it accepted itself.
//
// A peer that breaks the protocol (garbage, an oversized or truncated frame, a wrong hello, a
// call before the hello) is sent an error when it can still be framed and is disconnected; an
// unknown method, a wrong argument or a failing method only earns an error answer.
class ClientSession : public QObject
{
    Q_OBJECT
public:
    // Takes over the descriptor; when it cannot be used the session ends at once (finished()).
    ClientSession(qintptr descriptor, const SessionSettings &settings, QObject *parent = nullptr);
    ~ClientSession() override;

    const QString &peer() const { return m_peer; }
    // Disconnects at once; finished() follows.
    void drop();

signals:
    // The connection is over; the session deletes itself afterwards.
    void finished();
    // A call's method starts or has been answered (both in the session's thread).
    void callStarted();
    void callFinished();

private:
    void readFrames();
    void handleFrame(const QByteArray &body);
    void answerCall(const QByteArray &body);
    void rejectConnection(const QString &text);
    void sendAndClose(const QByteArray &frame);
    void timedOut();
    void disconnected();
    void armTimer();
    void end();
    void log(const RpcCallRecord &record) const;

    const SessionSettings &m_settings;
    QTcpSocket *m_socket;
    FrameReader m_reader;
    QTimer m_timer;
    QString m_peer;
    bool m_greeted = false;
    bool m_closing = false;
    bool m_ended = false;
};

} // namespace fis

#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <functional>

namespace fis::test {

// A call a client sent through the proxy, as far as the faults need to know it.
struct ProxiedCall
{
    int connection = 0;     // 1-based, in the order clients connected
    QString method;         // as the client spelled it
    int ordinal = 0;        // 1-based count of this method on all connections so far
    bool firstPage = false; // GetRegistro with an empty continuation
};

// What to do with a frame passing through.
enum class ProxyAction {
    Forward,
    Hold,       // keep it (and everything after it on that connection) until release()
    CutHalfway, // an answer: send its first half, then close both sides
    Close,      // close both sides at once, sending nothing
};

// A TCP proxy between clients and the application server, in a thread of its own, that reads
// the protocol's frames both ways and lets a test act at an exact call: kill or stop the server
// before a call reaches it, cut an answer in the middle, hold calls back. Hooks run in the
// proxy's thread.
class FaultProxy : public QThread
{
public:
    explicit FaultProxy(quint16 serverPort);
    ~FaultProxy() override;

    quint16 port() const { return m_port; }

    // Each call from a client, before it is forwarded. Default: forward.
    std::function<ProxyAction(const ProxiedCall &)> onCall;
    // Each answer to a call, before it is forwarded. Default: forward.
    std::function<ProxyAction(const ProxiedCall &)> onAnswer;

    // Sends on what Hold kept, from any thread.
    void release();
    // Every call seen so far, in order.
    QList<ProxiedCall> calls() const;

protected:
    void run() override;

private:
    quint16 m_serverPort;
    quint16 m_port = 0;
    QSemaphore m_ready;
    mutable QMutex m_mutex;
    QList<ProxiedCall> m_calls;
    QObject *m_worker = nullptr;
};

} // namespace fis::test

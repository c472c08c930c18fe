#pragma once

#include "rpcserver/rpcsession.h"
#include "server/serverconfig.h"
#include "server/serverlog.h"

#include <QObject>
#include <QString>
#include <QTcpServer>

#include <QHash>
#include <QMutex>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QThread;

namespace fis {

class ServerJanitor;
class ServerWorker;

// Clients connected at once, in all and by address; shared by the listener, which admits, and
// the workers, which release when a client's connection ends.
class ConnectionCount
{
public:
    ConnectionCount(int maxTotal, int maxPerAddress)
        : m_maxTotal(maxTotal)
        , m_maxPerAddress(maxPerAddress)
    {}
    // Counts the client in and returns an empty text, or the reason it is refused.
    QString admit(const QString &address);
    void release(const QString &address);

private:
    QMutex m_mutex;
    int m_maxTotal;
    int m_maxPerAddress;
    int m_total = 0;
    QHash<QString, int> m_byAddress;
};

// The listening socket of the process. It only accepts: each accepted descriptor goes to the
// worker with the fewest calls running, then the fewest clients; when every worker is in a call,
// another worker is started (up to the configured most), so that a new client is not held
// behind long calls. It accepts by itself rather than through QTcpServer so that running out of
// file descriptors backs off (and is logged once) instead of spinning.
class ClientListener : public QTcpServer
{
    Q_OBJECT
public:
    explicit ClientListener(QObject *parent = nullptr);
    ~ClientListener() override;
    void setWorkers(const std::vector<ServerWorker *> &workers) { m_workers = workers; }
    void setConnectionCount(std::shared_ptr<ConnectionCount> count) { m_count = std::move(count); }
    // Asked for a new worker when all are in calls; returns null when no more may start.
    void setGrowWorkers(std::function<ServerWorker *()> grow) { m_grow = std::move(grow); }

    bool start(const QHostAddress &address, quint16 port);
    void stop();

private:
    void acceptPending();
    void backOff(int error);
    void dispatch(qintptr descriptor, const QString &address);
    void refuse(int descriptor, const QString &address, const QString &reason);
    void lingerAndClose(int descriptor);

    std::vector<ServerWorker *> m_workers;
    std::shared_ptr<ConnectionCount> m_count;
    std::function<ServerWorker *()> m_grow;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_retry;
    int m_retryDelayMs = 0; // 0: not backing off
    qint64 m_lastRefusalLog = 0;
    int m_refusedSinceLog = 0;
    int m_lingering = 0;
    size_t m_next = 0; // round robin among equally loaded workers
};

// The application server of one process: workers threads, each with its own event loop,
// database connection and copy of the server object, and the listener handing them clients.
// A long call (a first GetRegistro building a million lines) holds only its own worker.
class ApplicationServer : public QObject
{
    Q_OBJECT
public:
    explicit ApplicationServer(const ServerConfig &config, QObject *parent = nullptr);
    ~ApplicationServer() override;

    // Migrates the database, registers the process and undoes what dead servers left (see
    // ServerJanitor), starts the workers (each opens its connection) and listens.
    // Returns false with errorString() set when any of it fails.
    bool start();
    // Stops listening, disconnects every client and ends the workers; called by the destructor.
    void stop();

    QString errorString() const { return m_error; }
    QString listenAddress() const;
    quint16 port() const;

private:
    // Starts a worker thread and opens its connection; returns an error text, empty on success.
    QString addWorker();
    // Another worker for a new client while every one is in a call; null at the most.
    ServerWorker *growWorkers();

    ServerConfig m_config;
    ClientListener *m_listener;
    std::vector<std::unique_ptr<QThread>> m_threads;
    std::vector<ServerWorker *> m_workers;
    std::shared_ptr<ConnectionCount> m_count;
    std::shared_ptr<PendingBytes> m_pending;
    std::unique_ptr<QThread> m_janitorThread;
    ServerJanitor *m_janitor = nullptr;
    QString m_error;
};

} // namespace fis

#pragma once

#include "server/serverconfig.h"
#include "server/serverlog.h"

#include <QObject>
#include <QString>
#include <QTcpServer>

#include <atomic>
#include <memory>
#include <vector>

class QThread;

namespace fis {

class ServerJanitor;
class ServerWorker;

// The listening socket of the process. It only accepts: each accepted descriptor goes to the
// worker with the fewest calls running, then the fewest clients.
class ClientListener : public QTcpServer
{
    Q_OBJECT
public:
    explicit ClientListener(QObject *parent = nullptr);
    void setWorkers(const std::vector<ServerWorker *> &workers) { m_workers = workers; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    std::vector<ServerWorker *> m_workers;
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
    ServerConfig m_config;
    ClientListener *m_listener;
    std::vector<std::unique_ptr<QThread>> m_threads;
    std::vector<ServerWorker *> m_workers;
    std::unique_ptr<QThread> m_janitorThread;
    ServerJanitor *m_janitor = nullptr;
    QString m_error;
};

} // namespace fis

#pragma once

#include "rpcserver/rpcmethodtable.h"
#include "rpcserver/rpcsession.h"
#include "server/serverconfig.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace fis {

class CompraLegalService;
class ServerJanitor;
class SqlConnection;

// One serving thread: its own database connection, its own server object, and a session for
// each client the listener hands it. Lives in its QThread; every slot runs there.
class ServerWorker : public QObject
{
    Q_OBJECT
public:
    // `janitor` (may be null) is asked to delete lines whenever a file has been served, and told
    // of every client's connection that ends. `serverId` names the process in its lists.
    // `pending` counts the partial requests of every worker's clients.
    ServerWorker(const ServerConfig &config, ServerJanitor *janitor, QString serverId,
                 std::shared_ptr<PendingBytes> pending);
    ~ServerWorker() override;

    // In the worker's thread: opens the database. Returns an error text, empty on success.
    QString open();
    // In the worker's thread: serves a socket accepted by the listener; `ended` is called when
    // its connection is over.
    void adopt(qintptr descriptor, std::function<void()> ended);
    // In the worker's thread: drops every client and closes the database.
    void shutdown();

    // Read from the listener's thread to pick the least busy worker.
    int runningCalls() const { return m_running.load(std::memory_order_relaxed); }
    int clients() const { return m_clients.load(std::memory_order_relaxed); }

private:
    ServerConfig m_config;
    ServerJanitor *m_janitor;
    QString m_serverId;
    std::unique_ptr<SqlConnection> m_db;
    std::unique_ptr<CompraLegalService> m_service;
    RpcMethodTable m_methods;
    RpcSessionSettings m_settings;
    std::atomic<int> m_running{0};
    std::atomic<int> m_clients{0};
};

} // namespace fis

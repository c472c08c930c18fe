#pragma once

#include "server/serverconfig.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

namespace fis {

class SqlConnection;

namespace exportlists {
class ServerRegistry;
}

// The server's housekeeping, away from the callers' path, in its own thread with its own
// database connection:
// - registers the process among the database's servers and, before the process serves, undoes
//   the open export lists that servers no longer running left (exportlists::ServerRegistry);
// - every quarter of the lease (at most every 30 s) renews that registration and gives up the
//   lists idle for longer than the lease (exportlists::expire);
// - when a client's connection ends, settles that session's lists (exportlists::endSession);
// - deletes the lines of files that have been served in full, so that the last page's answer
//   does not wait for that. In slices, each in its own
//   short write transaction, so that other writers get their turn. A file rebuilt meanwhile
//   (served flag back to 'N') keeps its new lines;
// - copies the write-ahead log into the database for the workers.
// The purge and the copy wait for the calls to pause, so that they do not take a core from a
// build.
class ServerJanitor : public QObject
{
    Q_OBJECT
public:
    explicit ServerJanitor(const ServerConfig &config);
    ~ServerJanitor() override;

    // In the janitor's thread: opens the database, registers the process and recovers what dead
    // servers left. Returns an error text, empty on success.
    QString open();
    // This process's name among the servers, once open() succeeded.
    QString serverId() const;
    void close();

    // In the janitor's thread: deletes every served file's lines (also those a stopped process
    // left behind). Calls that pile up while it works are coalesced.
    void purge();
    // In the janitor's thread: heartbeat and expired lists.
    void tick();
    // In the janitor's thread: a client's connection ended.
    void sessionEnded(const QString &session);
    // In the janitor's thread: copies the write-ahead log into the database for the workers,
    // whose own commits leave that to the janitor. Requests that pile up run once.
    void checkpoint();
    // From any thread: checkpoint() once the calls of every session pause (at the latest some
    // seconds later); requests meanwhile are taken along.
    void requestCheckpoint();
    // From any thread: purge() once the calls of every session pause (at the latest some
    // seconds later); requests meanwhile are taken along.
    void requestPurge();
    // From any thread: a call of any session begins, ends.
    void callStarted() noexcept;
    void callFinished() noexcept;
    // From any thread: makes a running purge stop after its current slice.
    void requestStop() { m_stop.store(true); }

private:
    // Work that waits for the calls to pause.
    struct AfterCalls
    {
        QTimer later;
        qint64 wanted = -1; // since when, while it waits
        void (ServerJanitor::*work)() = nullptr;
    };

    // Deletes a served file's lines in slices; returns how many.
    qint64 purgeFile(const QString &file);
    void waitForCallsToPause(AfterCalls &job);
    void runWhenCallsPause(AfterCalls &job);

    ServerConfig m_config;
    std::unique_ptr<SqlConnection> m_db;
    std::unique_ptr<exportlists::ServerRegistry> m_registry;
    QTimer m_timer;
    AfterCalls m_purgeLater;
    AfterCalls m_checkpointLater;
    std::atomic<int> m_callsRunning{0};
    std::atomic<qint64> m_lastCallEnd{0};
    bool m_purging = false;
    bool m_again = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_checkpointQueued{false};
};

} // namespace fis

#pragma once

#include "server/serverconfig.h"

#include <QObject>

#include <atomic>
#include <memory>

namespace fis {

class SqliteConnection;

// Deletes the lines of files that have been served in full, away from the callers' path: a
// million lines take seconds to delete, and the last page's answer should not wait for that.
// Lives in its own thread with its own database connection. Deletes in slices, each in its own
// short write transaction, so that other writers (other threads and processes) get their turn.
// A file rebuilt meanwhile (served flag back to 'N') keeps its new lines.
class LineJanitor : public QObject
{
    Q_OBJECT
public:
    explicit LineJanitor(const ServerConfig &config);
    ~LineJanitor() override;

    // In the janitor's thread. Returns an error text, empty on success.
    QString open();
    // In the janitor's thread: deletes every served file's lines (also those a stopped process
    // left behind). Calls that pile up while it works are coalesced.
    void purge();
    void close();
    // In the janitor's thread: copies the write-ahead log into the database for the workers,
    // whose own commits leave that to the janitor. Requests that pile up run once.
    void checkpoint();
    // From any thread: queues checkpoint() unless one is already queued.
    void requestCheckpoint();
    // From any thread: makes a running purge stop after its current slice.
    void requestStop() { m_stop.store(true); }

private:
    ServerConfig m_config;
    std::unique_ptr<SqliteConnection> m_db;
    bool m_purging = false;
    bool m_again = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_checkpointQueued{false};
};

} // namespace fis

#pragma once

#include "sqldb/sqldatabase.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct sqlite3;

namespace fis {

// Every failure of the database (cannot open, busy for too long, constraint, I/O) is a
// DatabaseError (base/error.h) with SQLite's own text and extended result code.

// For a program's main(), before it starts a thread or opens a database: SQLite keeps no memory
// statistics, which nothing here reads and which take a mutex of the whole process on every
// allocation SQLite makes (about 7 % of a file's build). Without effect once SQLite is in use.
void leaveOutSqliteMemoryStatistics();

// One SQLite connection, used from one thread only. Opened in WAL mode with a busy timeout so
// that several server processes can share the file; write transactions start with
// BEGIN IMMEDIATE so that two writers never deadlock on a lock upgrade. Writers of one process
// on one file also queue on a lock of the process first: SQLite's own wait for the write lock
// polls with sleeps of up to 100 ms, which a writer finishing in 5 ms would leave idle.
class SqliteConnection final : public SqlConnection
{
public:
    // Opens an existing database file; throws DatabaseError when it cannot.
    SqliteConnection(const QString &path, int busyTimeoutMs);
    ~SqliteConnection() override;

    sqlite3 *handle() const { return m_db; }
    const QString &path() const { return m_path; }
    int busyTimeoutMs() const { return m_busyTimeoutMs; }

    DatabaseEngine engine() const override { return DatabaseEngine::Sqlite; }
    std::unique_ptr<SqlConnection> openAnother() const override;
    QString target() const override { return m_path; }
    void exec(const char *sql) override;
    std::unique_ptr<SqlStatementImpl> prepare(QByteArrayView sql) override;
    void begin(TransactionKind kind) override;
    void commit() override;
    void rollback() noexcept override;
    std::unique_ptr<SqlRowWriter> insertRows(const QByteArray &table,
                                             const QList<QByteArray> &columns) override;

    // Commits on this connection no longer copy the write-ahead log into the database once it
    // has grown past SQLite's usual threshold; `request` is called instead (on this thread,
    // right after such a commit), so that another connection can run checkpoint() away from the
    // caller. A file of a million lines is some 200 MB of log: copying it would otherwise hold
    // up the call that built it.
    void checkpointElsewhere(std::function<void()> request);
    // Copies what it can of the write-ahead log into the database without waiting for readers
    // or writers. Throws DatabaseError when it fails for another reason.
    void checkpoint();
    [[noreturn]] void fail(const QString &what) const;
    // A statement of this connection failed: the changes it made are undone.
    void statementFailed() const noexcept { spoilLog(); }

    // PRAGMA data_version: another value once another connection, of this process or another,
    // has committed since this one last read; the same across this connection's own commits.
    // Inside a transaction, the value of its snapshot.
    qint64 dataVersion();
    // From now on counts the rows this connection inserts, updates or deletes in the main
    // database's `tables` (by name, any case), whether or not they are then rolled back: with
    // dataVersion(), a reader tells whether those tables may have changed since it read them.
    void countChangesTo(QList<QByteArray> tables);
    quint64 countedChanges() const { return m_countedChanges; }

    // With countChangesTo(): keeps, from now on, each update this connection makes to the rows
    // of `table` (a rowid table among the counted ones): the row's id and whether `column` now
    // holds `value` (as text). A reader that knows this connection changes nothing else of those
    // rows can then bring what it read up to date from these alone. Every other counted change
    // (an insert, a delete, another table), a rollback, a statement that failed, more than
    // `limit` updates or a table without that column spoils the log until it is started again;
    // so does a row id too large to keep.
    void logUpdates(const QByteArray &table, const QByteArray &column, const QByteArray &value,
                    qsizetype limit);
    void stopLoggingUpdates();
    struct LoggedUpdate
    {
        qint64 rowId = 0;
        bool isValue = false;
    };
    // The updates logged since countedChanges() returned `from`, oldest first; nullopt when the
    // log does not reach back to then or is spoiled.
    std::optional<std::vector<LoggedUpdate>> loggedUpdatesSince(quint64 from) const;

private:
    void releaseWriters() noexcept;
    void spoilLog() const noexcept { m_log.spoiled = true; }
    bool countsChangesTo(const char *table) const;
    void counted(int op, const char *table, qint64 rowId);

    sqlite3 *m_db = nullptr;
    QString m_path;
    int m_busyTimeoutMs = 0;
    std::function<void()> m_checkpointRequest;
    std::shared_ptr<std::timed_mutex> m_writers; // the process's writers on this file
    bool m_holdsWriters = false;
    QList<QByteArray> m_countedTables;
    quint64 m_countedChanges = 0;
    struct UpdateLog
    {
        bool on = false;
        mutable bool spoiled = false;
        QByteArray table;
        int column = -1;
        QByteArray value;
        qsizetype limit = 0;
        quint64 from = 0;            // countedChanges() when it started
        std::vector<qint64> updates; // row id * 2, plus 1 where the column holds the value
    } m_log;
};

} // namespace fis

#pragma once

#include "base/error.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

namespace fis {

// Every failure of the server's database (cannot open, busy for too long, constraint, I/O) is a
// DatabaseError (base/error.h) with SQLite's own text and extended result code; it is logged and
// reaches the caller as a call error.

// One SQLite connection, used from one thread only. Opened in WAL mode with a busy timeout so
// that several server processes can share the file; write transactions start with
// BEGIN IMMEDIATE so that two writers never deadlock on a lock upgrade.
class SqliteConnection
{
public:
    // Opens an existing database file; throws DatabaseError when it cannot.
    SqliteConnection(const QString &path, int busyTimeoutMs);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    sqlite3 *handle() const { return m_db; }
    const QString &path() const { return m_path; }
    int busyTimeoutMs() const { return m_busyTimeoutMs; }

    // Runs statements that return no rows (no parameters).
    void exec(const char *sql);

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

private:
    sqlite3 *m_db = nullptr;
    QString m_path;
    int m_busyTimeoutMs = 0;
    std::function<void()> m_checkpointRequest;
};

// A prepared statement. Parameters are bound by position from 1; every text coming from a
// caller goes in this way, never into the statement's text.
class SqliteStatement
{
public:
    SqliteStatement(SqliteConnection &db, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // A null QString binds NULL; an empty but non-null one binds ''.
    void bind(int index, const QString &text);
    void bindUtf8(int index, QByteArrayView utf8);
    // Binds without copying: the bytes must stay put until the statement is stepped or reset.
    void bindUtf8NoCopy(int index, QByteArrayView utf8);
    void bind(int index, qint64 value);
    void bind(int index, double value);
    void bindNull(int index);

    // True while a row is available.
    bool step();
    // Runs a statement that returns no rows; returns the number of rows changed.
    int execute();
    // Makes the statement ready for new bindings (they are cleared too).
    void reset();

    bool isNull(int column) const;
    QString text(int column) const;
    // The UTF-8 bytes of a text column, valid until the next step or reset.
    QByteArrayView utf8(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;

private:
    SqliteConnection &m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

// A transaction that rolls back unless committed. Immediate takes the write lock at once.
class SqliteTransaction
{
public:
    enum class Kind { Read, Write };
    SqliteTransaction(SqliteConnection &db, Kind kind);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction &) = delete;
    SqliteTransaction &operator=(const SqliteTransaction &) = delete;

    void commit();

private:
    SqliteConnection &m_db;
    bool m_open = true;
};

} // namespace fis

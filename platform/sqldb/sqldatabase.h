#pragma once

// The application server's database access, one interface over SQLite (sqlite3), PostgreSQL
// (libpq) and Firebird (fbclient), so that the server's statements and transactions are written
// once and each engine's connection does what only it can.
//
// Statement texts are written once for every engine where the SQL allows it, with SQLite's
// numbered parameters: `?N` is parameter N (from 1) and may occur several times; a bare `?` is
// the parameter after the highest one so far. PostgreSQL's connection turns them into `$N`,
// Firebird's into positional `?` bound from the numbered values. Parameters never go into a
// statement's text. Texts are UTF-8.
//
// Values cross as text, integers and doubles. Dates are ISO-8601 texts ('YYYY-MM-DD',
// timestamps 'YYYY-MM-DD HH:MM:SS'), bound and read as such on every engine (SQLite stores them
// so; the others convert). A NUMERIC column reads as integer() or real(), and as utf8() in its
// plain decimal form. SQLite also keeps bytes as they are (a BLOB), which the server engines'
// text columns cannot hold: only a statement of an SQLite connection binds them. A null QString (or
// bindNull) binds NULL on every engine; an empty one binds '' (which the server engines keep apart
// from NULL).
//
// A refused statement inside a transaction leaves the transaction usable, as on SQLite (the
// PostgreSQL connection rolls back to a savepoint of its own). Every failure is a DatabaseError
// (base/error.h) with the engine's own text; its
// isUniqueViolation() holds for a refused duplicate key on every engine. A connection and its
// statements belong to one thread.

#include "base/databasetarget.h"
#include "base/error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>

namespace fis {

// One prepared statement of a connection. Made through SqlStatement.
class SqlStatementImpl
{
public:
    virtual ~SqlStatementImpl() = default;
    virtual void bindUtf8(int index, QByteArrayView utf8) = 0;
    // The bytes must stay put until the statement is stepped or reset.
    virtual void bindUtf8NoCopy(int index, QByteArrayView utf8) = 0;
    virtual void bind(int index, qint64 value) = 0;
    virtual void bind(int index, double value) = 0;
    virtual void bindNull(int index) = 0;
    virtual bool step() = 0;
    virtual int execute() = 0;
    virtual void reset() = 0;
    virtual bool isNull(int column) const = 0;
    virtual QByteArrayView utf8(int column) const = 0;
    virtual qint64 integer(int column) const = 0;
    virtual double real(int column) const = 0;
    // SQLite's BLOB values; the server engines have none in the columns the server reads.
    virtual void bindBytesNoCopy(int index, QByteArrayView bytes);
    virtual bool holdsBytes(int column) const;
    virtual QByteArrayView bytes(int column) const;
};

// Rows written in bulk into one table (see SqlConnection::insertRows): each row's values in
// the order of the columns given, then endRow(). Nothing is certain to be written before
// finish(), which must be called inside the same transaction; a writer dropped unfinished
// writes nothing more.
class SqlRowWriter
{
public:
    virtual ~SqlRowWriter() = default;
    virtual void addText(QByteArrayView utf8) = 0;
    virtual void addInteger(qint64 value) = 0;
    virtual void addNull() = 0;
    virtual void endRow() = 0;
    virtual void finish() = 0;
};

class SqlConnection
{
public:
    virtual ~SqlConnection() = default;
    SqlConnection() = default;
    SqlConnection(const SqlConnection &) = delete;
    SqlConnection &operator=(const SqlConnection &) = delete;

    virtual DatabaseEngine engine() const = 0;
    // A new connection to the same database with the same options, for another thread.
    virtual std::unique_ptr<SqlConnection> openAnother() const = 0;
    // The target opened, as DatabaseTarget::toString() gives it: never a password.
    virtual QString target() const = 0;

    // Runs statements that take no parameters and return no rows; several may be separated by
    // semicolons only where the engine runs such a script (SQLite, PostgreSQL).
    virtual void exec(const char *sql) = 0;
    virtual std::unique_ptr<SqlStatementImpl> prepare(QByteArrayView sql) = 0;

    // A write transaction takes what it must at once so that two writers never deadlock half
    // way and writers of every process run one after the other: SQLite's write lock (BEGIN
    // IMMEDIATE), an advisory lock on PostgreSQL, the row of TRAVACOMPRALEG on Firebird; waiting
    // ends after the busy timeout with a DatabaseError. Nested transactions are refused.
    enum class TransactionKind { Read, Write };
    virtual void begin(TransactionKind kind) = 0;
    virtual void commit() = 0;
    // Never throws; harmless without a transaction.
    virtual void rollback() noexcept = 0;

    // Writes rows into `table`'s `columns` the fastest way the engine has (SQLite: many rows
    // per INSERT; PostgreSQL: COPY; Firebird: batches of one prepared INSERT).
    virtual std::unique_ptr<SqlRowWriter> insertRows(const QByteArray &table,
                                                     const QList<QByteArray> &columns) = 0;
};

// The text of a statement that the engines spell differently.
struct EngineSql
{
    const char *sqlite;
    const char *postgres;
    const char *firebird;
};
inline const char *sqlFor(const SqlConnection &db, const EngineSql &sql)
{
    switch (db.engine()) {
    case DatabaseEngine::PostgreSql:
        return sql.postgres;
    case DatabaseEngine::Firebird:
        return sql.firebird;
    case DatabaseEngine::Sqlite:
        break;
    }
    return sql.sqlite;
}

// A prepared statement. Parameters are bound by number from 1; every text coming from a caller
// goes in this way, never into the statement's text.
class SqlStatement
{
public:
    SqlStatement(SqlConnection &db, QByteArrayView sql)
        : m_impl(db.prepare(sql))
    {}

    // A null QString binds NULL; an empty but non-null one binds ''.
    void bind(int index, const QString &text)
    {
        if (text.isNull())
            m_impl->bindNull(index);
        else
            m_impl->bindUtf8(index, text.toUtf8());
    }
    void bindUtf8(int index, QByteArrayView utf8) { m_impl->bindUtf8(index, utf8); }
    void bindUtf8NoCopy(int index, QByteArrayView utf8) { m_impl->bindUtf8NoCopy(index, utf8); }
    void bind(int index, qint64 value) { m_impl->bind(index, value); }
    void bind(int index, int value) { m_impl->bind(index, qint64(value)); }
    void bind(int index, double value) { m_impl->bind(index, value); }
    void bindNull(int index) { m_impl->bindNull(index); }
    // Bytes kept as they are (SQLite's BLOB), which must stay put until the statement is
    // stepped or reset; a DatabaseError on the server engines.
    void bindBytesNoCopy(int index, QByteArrayView bytes) { m_impl->bindBytesNoCopy(index, bytes); }

    // True while a row is available.
    bool step() { return m_impl->step(); }
    // Runs a statement that returns no rows; returns the number of rows changed.
    int execute() { return m_impl->execute(); }
    // Makes the statement ready for new bindings (they are cleared too).
    void reset() { m_impl->reset(); }

    bool isNull(int column) const { return m_impl->isNull(column); }
    QString text(int column) const { return QString::fromUtf8(m_impl->utf8(column)); }
    // The UTF-8 bytes of a column, valid until the next step or reset.
    QByteArrayView utf8(int column) const { return m_impl->utf8(column); }
    qint64 integer(int column) const { return m_impl->integer(column); }
    double real(int column) const { return m_impl->real(column); }
    // Whether the column's value is bytes (a BLOB), and those bytes, valid until the next step
    // or reset.
    bool holdsBytes(int column) const { return m_impl->holdsBytes(column); }
    QByteArrayView bytes(int column) const { return m_impl->bytes(column); }

private:
    std::unique_ptr<SqlStatementImpl> m_impl;
};

// A transaction that rolls back unless committed.
class SqlTransaction
{
public:
    using Kind = SqlConnection::TransactionKind;
    SqlTransaction(SqlConnection &db, Kind kind)
        : m_db(db)
    {
        m_db.begin(kind);
    }
    ~SqlTransaction()
    {
        if (m_open)
            m_db.rollback();
    }
    SqlTransaction(const SqlTransaction &) = delete;
    SqlTransaction &operator=(const SqlTransaction &) = delete;

    void commit()
    {
        m_db.commit();
        m_open = false;
    }

private:
    SqlConnection &m_db;
    bool m_open = true;
};

// How long a connection waits for a lock another one holds before it fails.
struct SqlOpenOptions
{
    int busyTimeoutMs = 5000;
};

// Opens the target's database (an SQLite file that must exist, or a PostgreSQL or Firebird
// database on its server, the password read from where the target names). Throws
// DatabaseError when it cannot, ConfigError when the password cannot be read.
std::unique_ptr<SqlConnection> openSqlDatabase(const DatabaseTarget &target,
                                               const SqlOpenOptions &options = {});

} // namespace fis

#pragma once

#include "sqldb/sqldatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

struct pg_conn;
struct pg_result;

namespace fis {

// Opens a PostgreSQL database through libpq. Throws DatabaseError when it cannot, ConfigError
// when the password cannot be read.
std::unique_ptr<SqlConnection> openPostgresDatabase(const DatabaseTarget &target,
                                                    const SqlOpenOptions &options);

// What keeps a connection busy between calls: a statement whose rows are still arriving, a
// COPY not yet ended. libpq runs one command at a time, so before another command runs the
// holder gives the connection back: a statement reads the rest of its rows into memory, a COPY
// ends. A failure there is kept for the holder's next call.
class PostgresHolder
{
public:
    virtual void yieldConnection() noexcept = 0;

protected:
    ~PostgresHolder() = default;
};

// One libpq connection, used from one thread only. Outside begin() every command commits on
// its own. Inside a transaction each command runs after a savepoint and a failed one is rolled
// back to it, so that the transaction goes on as an SQLite transaction does after a refused
// statement (a server's transaction would otherwise refuse every later command).
// Its statements and row writers must go before it.
class PostgresConnection final : public SqlConnection
{
public:
    // Connects; throws DatabaseError naming the target (never the password) and libpq's text.
    PostgresConnection(const DatabaseTarget &target, const SqlOpenOptions &options);
    ~PostgresConnection() override;

    DatabaseEngine engine() const override { return DatabaseEngine::PostgreSql; }
    std::unique_ptr<SqlConnection> openAnother() const override;
    QString target() const override { return m_target; }
    void exec(const char *sql) override;
    std::unique_ptr<SqlStatementImpl> prepare(QByteArrayView sql) override;
    // Read: one snapshot for the whole transaction (REPEATABLE READ READ ONLY). Write: READ
    // COMMITTED after an advisory lock that every writer on the database takes at once, so that
    // writers run one after the other as SQLite's do; waiting for it ends after the open
    // options' busy timeout with a DatabaseError.
    void begin(TransactionKind kind) override;
    void commit() override;
    void rollback() noexcept override;
    std::unique_ptr<SqlRowWriter> insertRows(const QByteArray &table,
                                             const QList<QByteArray> &columns) override;

    // For this connection's statements and row writers.
    pg_conn *handle() const { return m_conn; }
    // Makes the connection ready for a command of `by`: another holder yields, statements gone
    // are deallocated and, in a transaction, the savepoint is brought up to date. Throws
    // DatabaseError when the connection is lost or when one of these fails.
    void startCommand(PostgresHolder *by = nullptr);
    // The same without the savepoint, for what ends a transaction.
    void freeConnection(PostgresHolder *by);
    void hold(PostgresHolder *holder) { m_holder = holder; }
    void release(PostgresHolder *holder);
    // The command succeeded (its last result read): libpq's end of it is read; `changed`: it
    // may have written, so the next command needs a new savepoint.
    void commandSucceeded(bool changed);
    // The command failed with `result` (null: libpq's own error): reads what is left of it,
    // rolls a transaction back to the savepoint and returns the error to throw.
    DatabaseError commandFailed(const pg_result *result);
    QByteArray newStatementName();
    // The statement goes: deallocated before the next command.
    void deallocateLater(const QByteArray &name);

private:
    void run(const char *sql);
    void runBegin(const char *sql);
    void deallocateGone() noexcept;
    void discardResults() noexcept;
    DatabaseError errorOf(const pg_result *result) const;
    DatabaseError lostError() const;

    pg_conn *m_conn = nullptr;
    DatabaseTarget m_opened;
    SqlOpenOptions m_options;
    QString m_target;
    PostgresHolder *m_holder = nullptr;
    QList<QByteArray> m_gone;
    qint64 m_statements = 0;
    bool m_inTransaction = false;
    bool m_savepointCurrent = false;
};

} // namespace fis

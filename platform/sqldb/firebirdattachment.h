#pragma once

#include "firebirdclient.h"
#include "sqldb/sqldatabase.h"

#include <QDeadlineTimer>

#include <functional>

namespace fis::firebird {

// Adds the user, password (read now from where the target names it), UTF-8 as the connection's
// character set and dialect 3 to a database parameter block.
void addLogin(ParameterBlock &dpb, const DatabaseTarget &target);

// One attachment (connection) to a Firebird database, used from one thread only.
//
// Outside begin() every statement runs in a read committed transaction of its own, committed
// as soon as it is done (a query: when its rows run out or it is reset). A write conflict with
// another transaction starts that transaction again until the busy timeout has passed.
//
// begin(Read) is a read-only snapshot. begin(Write) is read committed, waits for locks up to
// the busy timeout, and first locks the one row of TRAVACOMPRALEG (ID 1), which every writer
// locks: so writers follow one another as SQLite's BEGIN IMMEDIATE makes them, and none
// deadlocks half way through.
class FirebirdAttachment final : public SqlConnection
{
public:
    // Attaches; throws DatabaseError (with the target, never the password) when it cannot and
    // ConfigError when the password cannot be read.
    FirebirdAttachment(const DatabaseTarget &target, const SqlOpenOptions &options);
    ~FirebirdAttachment() override;

    DatabaseEngine engine() const override { return DatabaseEngine::Firebird; }
    std::unique_ptr<SqlConnection> openAnother() const override;
    QString target() const override { return m_target; }
    // One statement, no script.
    void exec(const char *sql) override;
    std::unique_ptr<SqlStatementImpl> prepare(QByteArrayView sql) override;
    void begin(TransactionKind kind) override;
    void commit() override;
    void rollback() noexcept override;
    std::unique_ptr<SqlRowWriter> insertRows(const QByteArray &table,
                                             const QList<QByteArray> &columns) override;

    isc_db_handle *handle() { return &m_db; }
    // The transaction begin() opened; 0 outside one.
    isc_tr_handle transaction() const { return m_transaction; }
    // Where statements are prepared: the open transaction, else a read-only one kept for it.
    isc_tr_handle *prepareTransaction();
    // Runs `work` in a new transaction of its own and returns that transaction, still open;
    // a write conflict starts over until the busy timeout. Throws the last failure.
    using Work = std::function<Status(isc_tr_handle &)>;
    isc_tr_handle runAlone(const Work &work, const QString &what);
    // Commits (throws DatabaseError) or rolls back (never throws) a transaction of runAlone().
    void endAlone(isc_tr_handle &transaction, bool commit);

private:
    isc_tr_handle start(const ParameterBlock &tpb, const QString &what);
    void beginWrite();
    Status lockWriters(isc_tr_handle &transaction);
    void prepareWritersLock(isc_tr_handle &transaction);
    void writeTransactionBlock(ParameterBlock &tpb, const QDeadlineTimer &deadline) const;

    DatabaseTarget m_opened;
    SqlOpenOptions m_options;
    QString m_target;
    int m_busyTimeoutMs = 0;
    isc_db_handle m_db = 0;
    isc_tr_handle m_transaction = 0;
    isc_tr_handle m_prepareTransaction = 0;
    isc_stmt_handle m_writersLock = 0;
    Sqlda m_writersLockRow{1};
    ISC_LONG m_writersLockId = 0;
    short m_writersLockNull = 0;
};

} // namespace fis::firebird

#include "firebirdattachment.h"

#include "firebirdrowwriter.h"
#include "firebirdstatement.h"

#include <algorithm>

namespace fis::firebird {

namespace {

constexpr char kLockWriters[] = "SELECT ID FROM TRAVACOMPRALEG WHERE ID = 1 WITH LOCK";
constexpr ISC_STATUS kNoMoreRows = 100;
// How long an attach waits for the server to answer before it fails.
constexpr int kConnectTimeoutSeconds = 15;

QString executing()
{
    return QStringLiteral("execução do comando");
}

QString beginning()
{
    return QStringLiteral("início da transação");
}

} // namespace

void addLogin(ParameterBlock &dpb, const DatabaseTarget &target)
{
    dpb.addString(isc_dpb_user_name, target.user.toUtf8());
    QByteArray password = target.password().toUtf8();
    dpb.addString(isc_dpb_password, password);
    password.fill('\0');
    dpb.addString(isc_dpb_lc_ctype, "UTF8");
    dpb.addInteger(isc_dpb_sql_dialect, SQL_DIALECT_V6);
    dpb.addInteger(isc_dpb_connect_timeout, kConnectTimeoutSeconds);
    // The file name (and every other text here) is UTF-8, not the machine's character set.
    dpb.addString(isc_dpb_utf8_filename, "");
}

std::unique_ptr<SqlConnection> FirebirdAttachment::openAnother() const
{
    return std::make_unique<FirebirdAttachment>(m_opened, m_options);
}

FirebirdAttachment::FirebirdAttachment(const DatabaseTarget &target, const SqlOpenOptions &options)
    : m_opened(target)
    , m_options(options)
    , m_target(target.toString())
    , m_busyTimeoutMs(std::max(options.busyTimeoutMs, 0))
{
    ParameterBlock dpb(isc_dpb_version1);
    addLogin(dpb, target);
    const QByteArray name = target.firebirdConnectString().toUtf8();
    Status status;
    if (isc_attach_database(status.get(), 0, name.constData(), &m_db, dpb.size(), dpb.data()))
        throw DatabaseError(
            QString(), QStringLiteral("Não foi possível abrir o banco de dados %1").arg(m_target),
            status.text(), int(status.code()));
}

FirebirdAttachment::~FirebirdAttachment()
{
    rollback();
    Status status;
    if (m_writersLock)
        isc_dsql_free_statement(status.get(), &m_writersLock, DSQL_drop);
    if (m_prepareTransaction)
        endAlone(m_prepareTransaction, false);
    isc_detach_database(status.get(), &m_db);
}

void FirebirdAttachment::exec(const char *sql)
{
    const Work work = [&](isc_tr_handle &transaction) {
        Status status;
        isc_dsql_execute_immediate(status.get(), &m_db, &transaction, 0, sql, SQL_DIALECT_V6,
                                   nullptr);
        return status;
    };
    if (isc_tr_handle transaction = m_transaction) {
        const Status status = work(transaction);
        if (status.failed())
            fail(status, executing());
        return;
    }
    isc_tr_handle own = runAlone(work, executing());
    endAlone(own, true);
}

std::unique_ptr<SqlStatementImpl> FirebirdAttachment::prepare(QByteArrayView sql)
{
    return std::make_unique<FirebirdStatement>(*this, sql);
}

std::unique_ptr<SqlRowWriter> FirebirdAttachment::insertRows(const QByteArray &table,
                                                             const QList<QByteArray> &columns)
{
    return std::make_unique<FirebirdRowWriter>(*this, table, columns);
}

isc_tr_handle *FirebirdAttachment::prepareTransaction()
{
    if (m_transaction)
        return &m_transaction;
    if (!m_prepareTransaction) {
        // Read only and read committed: Firebird counts it as committed from its start, so
        // keeping it open holds back no garbage collection.
        ParameterBlock tpb(isc_tpb_version3);
        tpb.add(isc_tpb_read);
        tpb.add(isc_tpb_read_committed);
        tpb.add(isc_tpb_rec_version);
        m_prepareTransaction = start(tpb, beginning());
    }
    return &m_prepareTransaction;
}

isc_tr_handle FirebirdAttachment::start(const ParameterBlock &tpb, const QString &what)
{
    isc_tr_handle transaction = 0;
    Status status;
    if (isc_start_transaction(status.get(), &transaction, 1, &m_db,
                              static_cast<unsigned short>(tpb.size()), tpb.data()))
        fail(status, what);
    return transaction;
}

void FirebirdAttachment::writeTransactionBlock(ParameterBlock &tpb,
                                               const QDeadlineTimer &deadline) const
{
    tpb.add(isc_tpb_write);
    tpb.add(isc_tpb_read_committed);
    tpb.add(isc_tpb_rec_version);
    if (m_busyTimeoutMs == 0) {
        tpb.add(isc_tpb_nowait);
        return;
    }
    tpb.add(isc_tpb_wait);
    // Whole seconds, rounded up, and at least one once the deadline is near.
    const qint64 remaining = std::max<qint64>(deadline.remainingTime(), 1);
    tpb.addInteger(isc_tpb_lock_timeout, qint32((remaining + 999) / 1000));
}

isc_tr_handle FirebirdAttachment::runAlone(const Work &work, const QString &what)
{
    const QDeadlineTimer deadline(m_busyTimeoutMs);
    for (;;) {
        ParameterBlock tpb(isc_tpb_version3);
        writeTransactionBlock(tpb, deadline);
        isc_tr_handle transaction = start(tpb, what);
        Status status = work(transaction);
        if (!status.failed())
            return transaction;
        status.keepText();
        endAlone(transaction, false);
        if (!status.isUpdateConflict() || deadline.hasExpired())
            fail(status, what);
    }
}

void FirebirdAttachment::endAlone(isc_tr_handle &transaction, bool commit)
{
    Status status;
    if (commit && isc_commit_transaction(status.get(), &transaction) == 0) {
        transaction = 0;
        return;
    }
    if (commit)
        status.keepText();
    Status rollingBack;
    // Without the server (the connection broke) the handle is only let go of.
    if (isc_rollback_transaction(rollingBack.get(), &transaction))
        fb_disconnect_transaction(rollingBack.get(), &transaction);
    transaction = 0;
    if (commit)
        fail(status, QStringLiteral("confirmação da transação"));
}

void FirebirdAttachment::begin(TransactionKind kind)
{
    if (m_transaction)
        throw DatabaseError(QStringLiteral("Já há uma transação aberta nesta conexão; "
                                           "transações aninhadas não são permitidas."));
    if (kind == TransactionKind::Write) {
        beginWrite();
        return;
    }
    ParameterBlock tpb(isc_tpb_version3);
    tpb.add(isc_tpb_read);
    tpb.add(isc_tpb_concurrency);
    m_transaction = start(tpb, beginning());
}

void FirebirdAttachment::beginWrite()
{
    const QDeadlineTimer deadline(m_busyTimeoutMs);
    for (;;) {
        ParameterBlock tpb(isc_tpb_version3);
        writeTransactionBlock(tpb, deadline);
        isc_tr_handle transaction = start(tpb, beginning());
        Status status;
        try {
            status = lockWriters(transaction);
        } catch (...) {
            endAlone(transaction, false);
            throw;
        }
        if (!status.failed()) {
            m_transaction = transaction;
            return;
        }
        endAlone(transaction, false);
        // The other writer committed while this one waited: its row version is new to this
        // transaction, which starts again to lock it.
        if (status.isUpdateConflict() && !deadline.hasExpired())
            continue;
        if (status.isLockConflict())
            throw DatabaseError(QString(),
                                QStringLiteral("Outra transação de escrita ocupou o banco de "
                                               "dados %1 por mais de %2 ms")
                                    .arg(m_target)
                                    .arg(m_busyTimeoutMs),
                                status.text(), int(status.code()));
        fail(status, beginning());
    }
}

Status FirebirdAttachment::lockWriters(isc_tr_handle &transaction)
{
    if (!m_writersLock)
        prepareWritersLock(transaction);
    Status status;
    if (isc_dsql_execute(status.get(), &transaction, &m_writersLock, SQLDA_VERSION1, nullptr)) {
        status.keepText();
        return status;
    }
    const ISC_STATUS rc =
        isc_dsql_fetch(status.get(), &m_writersLock, SQLDA_VERSION1, m_writersLockRow.get());
    status.keepText();
    Status closing;
    isc_dsql_free_statement(closing.get(), &m_writersLock, DSQL_close);
    if (rc == kNoMoreRows)
        throw DatabaseError(QStringLiteral("A tabela TRAVACOMPRALEG do banco de dados %1 não tem "
                                           "a linha de ID 1, que as transações de escrita travam.")
                                .arg(m_target));
    return status;
}

void FirebirdAttachment::prepareWritersLock(isc_tr_handle &transaction)
{
    Status status;
    if (isc_dsql_allocate_statement(status.get(), &m_db, &m_writersLock))
        fail(status, beginning());
    if (isc_dsql_prepare(status.get(), &transaction, &m_writersLock, 0, kLockWriters,
                         SQL_DIALECT_V6, m_writersLockRow.get())) {
        status.keepText();
        Status dropping;
        isc_dsql_free_statement(dropping.get(), &m_writersLock, DSQL_drop);
        m_writersLock = 0;
        if (status.has(isc_dsql_relation_err))
            throw DatabaseError(
                QString(),
                QStringLiteral("Não é possível iniciar uma transação de escrita no banco de "
                               "dados %1: falta a tabela TRAVACOMPRALEG (ID INTEGER NOT NULL "
                               "PRIMARY KEY, com a linha de ID 1), que põe os escritores em fila")
                    .arg(m_target),
                status.text(), int(status.code()));
        fail(status, beginning());
    }
    XSQLVAR &id = m_writersLockRow[0];
    id.sqltype = SQL_LONG | 1;
    id.sqllen = sizeof m_writersLockId;
    id.sqlscale = 0;
    id.sqldata = reinterpret_cast<char *>(&m_writersLockId);
    id.sqlind = &m_writersLockNull;
}

void FirebirdAttachment::commit()
{
    if (!m_transaction)
        throw DatabaseError(QStringLiteral("Não há transação aberta para confirmar."));
    endAlone(m_transaction, true);
}

void FirebirdAttachment::rollback() noexcept
{
    if (m_transaction)
        endAlone(m_transaction, false);
}

} // namespace fis::firebird

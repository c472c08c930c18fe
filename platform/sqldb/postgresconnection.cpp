#include "sqldb/postgresconnection.h"

#include "sqldb/postgresresult.h"
#include "sqldb/postgresrowwriter.h"
#include "sqldb/postgresstatement.h"

#include <QCoreApplication>

#include <algorithm>
#include <vector>

namespace fis {

namespace {

constexpr int kConnectTimeoutSeconds = 10;
// A server that stops answering is given up after about a minute and a half, not hours.
constexpr char kKeepaliveIdleSeconds[] = "60";
constexpr char kKeepaliveIntervalSeconds[] = "10";
constexpr char kKeepaliveCount[] = "3";

// Every writer on the database takes this one lock ("FIS11000" in ASCII) before anything else,
// as SQLite's BEGIN IMMEDIATE takes the write lock; READ COMMITTED so that the statements after
// the wait see what the writer before committed.
constexpr char kBeginWrite[] = "BEGIN ISOLATION LEVEL READ COMMITTED;"
                               " SELECT pg_advisory_xact_lock(5064977616958861360);"
                               " SAVEPOINT fis_statement";
constexpr char kBeginRead[] = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY;"
                              " SAVEPOINT fis_statement";
constexpr char kRenewSavepoint[] = "RELEASE SAVEPOINT fis_statement; SAVEPOINT fis_statement";
constexpr char kBackToSavepoint[] = "ROLLBACK TO SAVEPOINT fis_statement";

// The server's notices (a table that was not there to drop, ...) are no failures, and libpq
// would print them on the program's standard error.
void ignoreNotice(void *, const char *)
{}

QByteArray applicationName()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QByteArrayLiteral("fis") : name.toUtf8();
}

// lock_timeout 0 would wait for ever, where SQLite's busy timeout 0 does not wait at all.
QByteArray sessionOptions(const SqlOpenOptions &options)
{
    return "-c DateStyle=ISO -c standard_conforming_strings=on -c lock_timeout=" +
           QByteArray::number(std::max(1, options.busyTimeoutMs));
}

PGconn *connectTo(const DatabaseTarget &target, const SqlOpenOptions &options,
                  const QString &targetText)
{
    const QByteArray host = target.host.toUtf8();
    const QByteArray port = QByteArray::number(target.effectivePort());
    const QByteArray database = target.database.toUtf8();
    const QByteArray user = target.user.toUtf8();
    const QByteArray password = target.password().toUtf8();
    const QByteArray timeout = QByteArray::number(kConnectTimeoutSeconds);
    const QByteArray name = applicationName();
    const QByteArray session = sessionOptions(options);
    std::vector<const char *> keys{"host",
                                   "port",
                                   "dbname",
                                   "connect_timeout",
                                   "application_name",
                                   "client_encoding",
                                   "options",
                                   "keepalives_idle",
                                   "keepalives_interval",
                                   "keepalives_count"};
    std::vector<const char *> values{
        host.constData(),          port.constData(), database.constData(), timeout.constData(),
        name.constData(),          "UTF8",           session.constData(),  kKeepaliveIdleSeconds,
        kKeepaliveIntervalSeconds, kKeepaliveCount};
    // Without them libpq uses its own defaults (the system user, ~/.pgpass).
    if (!user.isEmpty()) {
        keys.push_back("user");
        values.push_back(user.constData());
    }
    if (!password.isEmpty()) {
        keys.push_back("password");
        values.push_back(password.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    // expand_dbname 0: a database name is a name, never a connection string.
    PGconn *conn = PQconnectdbParams(keys.data(), values.data(), 0);
    if (PQstatus(conn) == CONNECTION_OK)
        return conn;
    QString text = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    PQfinish(conn);
    if (!password.isEmpty())
        text.replace(QString::fromUtf8(password), QStringLiteral("***"));
    throw DatabaseError(
        QString(), QStringLiteral("Não foi possível conectar ao banco de dados %1").arg(targetText),
        text);
}

} // namespace

std::unique_ptr<SqlConnection> openPostgresDatabase(const DatabaseTarget &target,
                                                    const SqlOpenOptions &options)
{
    return std::make_unique<PostgresConnection>(target, options);
}

PostgresConnection::PostgresConnection(const DatabaseTarget &target, const SqlOpenOptions &options)
    : m_opened(target)
    , m_options(options)
    , m_target(target.toString())
{
    m_conn = connectTo(target, options, m_target);
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
}

std::unique_ptr<SqlConnection> PostgresConnection::openAnother() const
{
    return std::make_unique<PostgresConnection>(m_opened, m_options);
}

PostgresConnection::~PostgresConnection()
{
    PQfinish(m_conn);
}

void PostgresConnection::freeConnection(PostgresHolder *by)
{
    if (m_holder && m_holder != by) {
        PostgresHolder *holder = m_holder;
        m_holder = nullptr;
        holder->yieldConnection();
    }
    if (PQstatus(m_conn) != CONNECTION_OK)
        throw lostError();
    if (!m_gone.isEmpty())
        deallocateGone();
}

void PostgresConnection::startCommand(PostgresHolder *by)
{
    freeConnection(by);
    if (m_inTransaction && !m_savepointCurrent) {
        run(kRenewSavepoint);
        m_savepointCurrent = true;
    }
}

void PostgresConnection::release(PostgresHolder *holder)
{
    if (m_holder == holder)
        m_holder = nullptr;
}

void PostgresConnection::commandSucceeded(bool changed)
{
    discardResults();
    if (changed)
        m_savepointCurrent = false;
}

DatabaseError PostgresConnection::commandFailed(const PGresult *result)
{
    // What is left tells libpq whether the server went away, which the error then says.
    discardResults();
    DatabaseError error = errorOf(result);
    if (m_inTransaction && PQstatus(m_conn) == CONNECTION_OK) {
        const PgResult back(PQexec(m_conn, kBackToSavepoint));
        // When even this fails the transaction refuses every command up to its end, and the
        // next command (or the commit) says so.
        m_savepointCurrent = PQresultStatus(back.get()) == PGRES_COMMAND_OK;
    }
    return error;
}

QByteArray PostgresConnection::newStatementName()
{
    return "fis_" + QByteArray::number(++m_statements);
}

void PostgresConnection::deallocateLater(const QByteArray &name)
{
    m_gone.append(name);
}

void PostgresConnection::deallocateGone() noexcept
{
    QByteArray sql;
    for (const QByteArray &name : std::as_const(m_gone))
        sql += "DEALLOCATE " + name + ';';
    m_gone.clear();
    // It fails only with the connection, which the next command reports.
    const PgResult result(PQexec(m_conn, sql.constData()));
}

void PostgresConnection::discardResults() noexcept
{
    while (PGresult *result = PQgetResult(m_conn)) {
        const ExecStatusType status = PQresultStatus(result);
        PQclear(result);
        if (PQstatus(m_conn) != CONNECTION_OK)
            break;
        if (status == PGRES_COPY_IN) {
            if (PQputCopyEnd(m_conn, "abandoned") < 0)
                break;
        } else if (status == PGRES_COPY_OUT) {
            char *row = nullptr;
            while (PQgetCopyData(m_conn, &row, 0) > 0)
                PQfreemem(row);
        } else if (status == PGRES_COPY_BOTH) {
            break;
        }
    }
}

DatabaseError PostgresConnection::errorOf(const PGresult *result) const
{
    const char *primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    QString text =
        primary ? QString::fromUtf8(primary) : QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
    if (text.isEmpty())
        text = QStringLiteral("unexpected result %1")
                   .arg(QString::fromUtf8(PQresStatus(PQresultStatus(result))));
    if (const char *detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL))
        text += QStringLiteral(" (%1)").arg(QString::fromUtf8(detail));
    const QByteArray state(PQresultErrorField(result, PG_DIAG_SQLSTATE));
    if (!state.isEmpty())
        text += QStringLiteral(" [SQLSTATE %1]").arg(QString::fromLatin1(state));
    QString reason = QStringLiteral("Erro no banco de dados");
    // 57P: the server ends the session (terminated, shut down).
    if (PQstatus(m_conn) != CONNECTION_OK || state.startsWith("57P"))
        reason = QStringLiteral("A conexão com o banco de dados %1 foi perdida").arg(m_target);
    else if (state == "55P03")
        reason = QStringLiteral("O banco de dados está ocupado: a espera por um bloqueio passou "
                                "do limite");
    DatabaseError error(QString(), reason, text);
    if (state == "23505")
        error.markUniqueViolation();
    return error;
}

DatabaseError PostgresConnection::lostError() const
{
    return DatabaseError(
        QString(), QStringLiteral("A conexão com o banco de dados %1 foi perdida").arg(m_target),
        QString::fromUtf8(PQerrorMessage(m_conn)).trimmed());
}

void PostgresConnection::run(const char *sql)
{
    const PgResult result(PQexec(m_conn, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        discardResults();
        const DatabaseError error = errorOf(result.get());
        throw error;
    }
}

void PostgresConnection::exec(const char *sql)
{
    startCommand();
    const PgResult result(PQexec(m_conn, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY)
        throw commandFailed(result.get());
    // Of several statements only the last one's tag is known: any may have written.
    commandSucceeded(true);
}

std::unique_ptr<SqlStatementImpl> PostgresConnection::prepare(QByteArrayView sql)
{
    return std::make_unique<PostgresStatement>(*this, sql);
}

void PostgresConnection::begin(TransactionKind kind)
{
    if (m_inTransaction)
        throw DatabaseError(QStringLiteral("Já há uma transação aberta nesta conexão."));
    freeConnection(nullptr);
    runBegin(kind == TransactionKind::Write ? kBeginWrite : kBeginRead);
    m_inTransaction = true;
    m_savepointCurrent = true;
}

void PostgresConnection::runBegin(const char *sql)
{
    const PgResult result(PQexec(m_conn, sql));
    if (PQresultStatus(result.get()) == PGRES_COMMAND_OK)
        return;
    discardResults();
    const DatabaseError error = errorOf(result.get());
    // The BEGIN took effect before the lock failed: its transaction takes nothing but its end.
    const PgResult end(PQexec(m_conn, "ROLLBACK"));
    throw error;
}

void PostgresConnection::commit()
{
    if (!m_inTransaction)
        throw DatabaseError(QStringLiteral("Não há transação aberta para confirmar."));
    freeConnection(nullptr);
    m_inTransaction = false;
    m_savepointCurrent = false;
    const PgResult result(PQexec(m_conn, "COMMIT"));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        discardResults();
        const DatabaseError error = errorOf(result.get());
        throw error;
    }
    // A transaction left failed ends in a rollback, which COMMIT tells only by its tag.
    if (qstrcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0)
        throw DatabaseError(
            QStringLiteral("A transação foi desfeita: um de seus comandos falhou."));
}

void PostgresConnection::rollback() noexcept
{
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    m_savepointCurrent = false;
    try {
        freeConnection(nullptr);
    } catch (...) {
        return; // a lost connection took its transaction with it
    }
    const PgResult result(PQexec(m_conn, "ROLLBACK"));
}

std::unique_ptr<SqlRowWriter> PostgresConnection::insertRows(const QByteArray &table,
                                                             const QList<QByteArray> &columns)
{
    return std::make_unique<PostgresRowWriter>(*this, table, columns);
}

} // namespace fis

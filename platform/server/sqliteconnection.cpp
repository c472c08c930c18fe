#include "server/sqliteconnection.h"

#include <sqlite3.h>

namespace fis {

static_assert(SQLITE_CONSTRAINT_UNIQUE == 2067 && SQLITE_CONSTRAINT_PRIMARYKEY == 1555,
              "DatabaseError::isUniqueViolation() knows SQLite's codes");

SqliteConnection::SqliteConnection(const QString &path, int busyTimeoutMs)
    : m_path(path)
    , m_busyTimeoutMs(busyTimeoutMs)
{
    const QByteArray file = path.toUtf8();
    // No shared cache and no mutexes of our own: a connection belongs to one thread.
    const int rc = sqlite3_open_v2(file.constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString text =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError(
            QStringLiteral("Não foi possível abrir o banco de dados %1: %2").arg(path, text));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    try {
        exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;");
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

SqliteConnection::~SqliteConnection()
{
    sqlite3_close_v2(m_db);
}

void SqliteConnection::exec(const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const QString text = QString::fromUtf8(error ? error : sqlite3_errmsg(m_db));
        sqlite3_free(error);
        throw DatabaseError(QStringLiteral("Erro no banco de dados: %1").arg(text));
    }
}

void SqliteConnection::checkpointElsewhere(std::function<void()> request)
{
    // The frame count at which SQLite's own automatic checkpoint would run.
    constexpr int kCheckpointFrames = 1000;
    m_checkpointRequest = std::move(request);
    sqlite3_wal_hook(
        m_db,
        [](void *self, sqlite3 *, const char *, int frames) {
            auto *connection = static_cast<SqliteConnection *>(self);
            if (frames >= kCheckpointFrames && connection->m_checkpointRequest)
                connection->m_checkpointRequest();
            return SQLITE_OK;
        },
        this);
}

void SqliteConnection::checkpoint()
{
    const int rc =
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    // Busy: another connection is checkpointing; it does the same work.
    if (rc != SQLITE_OK && rc != SQLITE_BUSY)
        fail(QStringLiteral("checkpoint"));
}

void SqliteConnection::fail(const QString &what) const
{
    throw DatabaseError(QStringLiteral("Erro no banco de dados (%1): %2")
                            .arg(what, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

SqliteStatement::SqliteStatement(SqliteConnection &db, const char *sql)
    : m_db(db)
{
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        db.fail(QStringLiteral("preparação do comando"));
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

void SqliteStatement::bind(int index, const QString &text)
{
    if (text.isNull()) {
        bindNull(index);
        return;
    }
    bindUtf8(index, text.toUtf8());
}

void SqliteStatement::bindUtf8(int index, QByteArrayView utf8)
{
    // An empty view may carry a null pointer, which SQLite would bind as NULL.
    static const char empty[] = "";
    const char *data = utf8.isEmpty() ? empty : utf8.data();
    if (sqlite3_bind_text(m_stmt, index, data, int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        m_db.fail(QStringLiteral("associação de parâmetro"));
}

void SqliteStatement::bindUtf8NoCopy(int index, QByteArrayView utf8)
{
    static const char empty[] = "";
    const char *data = utf8.isEmpty() ? empty : utf8.data();
    if (sqlite3_bind_text(m_stmt, index, data, int(utf8.size()), SQLITE_STATIC) != SQLITE_OK)
        m_db.fail(QStringLiteral("associação de parâmetro"));
}

void SqliteStatement::bind(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        m_db.fail(QStringLiteral("associação de parâmetro"));
}

void SqliteStatement::bind(int index, double value)
{
    if (sqlite3_bind_double(m_stmt, index, value) != SQLITE_OK)
        m_db.fail(QStringLiteral("associação de parâmetro"));
}

void SqliteStatement::bindNull(int index)
{
    if (sqlite3_bind_null(m_stmt, index) != SQLITE_OK)
        m_db.fail(QStringLiteral("associação de parâmetro"));
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const QString text = QString::fromUtf8(sqlite3_errmsg(m_db.handle()));
    const int code = sqlite3_extended_errcode(m_db.handle());
    sqlite3_reset(m_stmt);
    throw DatabaseError(QStringLiteral("Erro no banco de dados: %1").arg(text), code);
}

int SqliteStatement::execute()
{
    while (step()) {
    }
    const int changed = sqlite3_changes(m_db.handle());
    reset();
    return changed;
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

QString SqliteStatement::text(int column) const
{
    const QByteArrayView bytes = utf8(column);
    return QString::fromUtf8(bytes);
}

QByteArrayView SqliteStatement::utf8(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? QByteArrayView(data, size) : QByteArrayView();
}

qint64 SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

SqliteTransaction::SqliteTransaction(SqliteConnection &db, Kind kind)
    : m_db(db)
{
    m_db.exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED");
}

SqliteTransaction::~SqliteTransaction()
{
    if (m_open)
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteTransaction::commit()
{
    m_db.exec("COMMIT");
    m_open = false;
}

} // namespace fis

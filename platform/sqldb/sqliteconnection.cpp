#include "sqldb/sqliteconnection.h"

#include <QFileInfo>
#include <QHash>

// Debian's SQLite is built with the pre-update hook; its declarations need this.
#define SQLITE_ENABLE_PREUPDATE_HOOK 1
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

namespace fis {

static_assert(SQLITE_CONSTRAINT_UNIQUE == 2067 && SQLITE_CONSTRAINT_PRIMARYKEY == 1555,
              "DatabaseError::isUniqueViolation() knows SQLite's codes");

namespace {

// One lock per database file, shared by every connection of the process to it.
std::shared_ptr<std::timed_mutex> writersOf(const QString &path)
{
    static std::mutex guard;
    static QHash<QString, std::weak_ptr<std::timed_mutex>> locks;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString key = canonical.isEmpty() ? path : canonical;
    std::lock_guard lock(guard);
    std::shared_ptr<std::timed_mutex> writers = locks.value(key).lock();
    if (!writers) {
        writers = std::make_shared<std::timed_mutex>();
        locks.insert(key, writers);
    }
    return writers;
}

} // namespace

void leaveOutSqliteMemoryStatistics()
{
    // SQLITE_MISUSE once SQLite is initialized: then it keeps its statistics, as before.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

SqliteConnection::SqliteConnection(const QString &path, int busyTimeoutMs)
    : m_path(path)
    , m_busyTimeoutMs(busyTimeoutMs)
    , m_writers(writersOf(path))
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
    // Closing rolls back what is open, and with it goes the process's write lock.
    sqlite3_close_v2(m_db);
    releaseWriters();
}

void SqliteConnection::exec(const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        spoilLog();
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

qint64 SqliteConnection::dataVersion()
{
    sqlite3_stmt *pragma = nullptr;
    if (sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &pragma, nullptr) != SQLITE_OK)
        fail(QStringLiteral("PRAGMA data_version"));
    const int rc = sqlite3_step(pragma);
    const qint64 version = rc == SQLITE_ROW ? sqlite3_column_int64(pragma, 0) : 0;
    sqlite3_finalize(pragma);
    if (rc != SQLITE_ROW)
        fail(QStringLiteral("PRAGMA data_version"));
    return version;
}

void SqliteConnection::countChangesTo(QList<QByteArray> tables)
{
    m_countedTables = std::move(tables);
    // The pre-update hook, not the update hook: it also sees tables without a row id, and an
    // update's new values.
    sqlite3_preupdate_hook(
        m_db,
        [](void *self, sqlite3 *, int op, const char *database, const char *table,
           sqlite3_int64 rowId, sqlite3_int64) {
            if (qstrcmp(database, "main") == 0)
                static_cast<SqliteConnection *>(self)->counted(op, table, rowId);
        },
        this);
    // A rollback undoes updates the log has kept.
    sqlite3_rollback_hook(
        m_db, [](void *self) { static_cast<SqliteConnection *>(self)->spoilLog(); }, this);
}

bool SqliteConnection::countsChangesTo(const char *table) const
{
    return std::any_of(
        m_countedTables.cbegin(), m_countedTables.cend(),
        [table](const QByteArray &name) { return qstricmp(table, name.constData()) == 0; });
}

void SqliteConnection::counted(int op, const char *table, qint64 rowId)
{
    if (!countsChangesTo(table))
        return;
    ++m_countedChanges;
    UpdateLog &log = m_log;
    if (!log.on || log.spoiled)
        return;
    // Twice the row id must fit.
    constexpr qint64 kLargestRowId = std::numeric_limits<qint64>::max() / 2 - 1;
    if (op != SQLITE_UPDATE || qstricmp(table, log.table.constData()) != 0 || log.column < 0 ||
        qsizetype(log.updates.size()) >= log.limit || rowId > kLargestRowId ||
        rowId < -kLargestRowId) {
        log.spoiled = true;
        return;
    }
    sqlite3_value *now = nullptr;
    if (sqlite3_preupdate_new(m_db, log.column, &now) != SQLITE_OK || !now) {
        log.spoiled = true;
        return;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(now));
    const bool isValue = text && QByteArrayView(text, sqlite3_value_bytes(now)) == log.value;
    log.updates.push_back(rowId * 2 + (isValue ? 1 : 0));
}

void SqliteConnection::logUpdates(const QByteArray &table, const QByteArray &column,
                                  const QByteArray &value, qsizetype limit)
{
    UpdateLog &log = m_log;
    log.on = true;
    log.spoiled = false;
    log.table = table;
    log.value = value;
    log.limit = limit;
    log.from = m_countedChanges;
    log.updates.clear();
    log.column = -1;
    if (!countsChangesTo(table.constData()))
        return;
    // The column's place in the table's rows, as the hook numbers them; none for a table
    // without row ids, whose hook gives no row id.
    sqlite3_stmt *info = nullptr;
    const QByteArray sql = "SELECT I.cid FROM pragma_table_list(?1) T,"
                           " pragma_table_xinfo(?1) I WHERE T.schema = 'main' AND T.type = 'table'"
                           " AND NOT T.wr"
                           " AND I.name = ?2 COLLATE NOCASE";
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &info, nullptr) != SQLITE_OK)
        fail(QStringLiteral("PRAGMA table_info"));
    sqlite3_bind_text(info, 1, table.constData(), int(table.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(info, 2, column.constData(), int(column.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(info) == SQLITE_ROW)
        log.column = sqlite3_column_int(info, 0);
    sqlite3_finalize(info);
}

void SqliteConnection::stopLoggingUpdates()
{
    m_log = UpdateLog{};
}

std::optional<std::vector<SqliteConnection::LoggedUpdate>>
SqliteConnection::loggedUpdatesSince(quint64 from) const
{
    const UpdateLog &log = m_log;
    if (!log.on || log.spoiled || log.column < 0 || from < log.from ||
        log.from + log.updates.size() != m_countedChanges)
        return std::nullopt;
    std::vector<LoggedUpdate> updates;
    updates.reserve(size_t(m_countedChanges - from));
    for (size_t i = size_t(from - log.from); i < log.updates.size(); ++i)
        updates.push_back({log.updates[i] >> 1, (log.updates[i] & 1) != 0});
    return updates;
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
    // A failed statement's changes are undone, the transaction's are not.
    spoilLog();
    throw DatabaseError(QStringLiteral("Erro no banco de dados (%1): %2")
                            .arg(what, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

namespace {

// A prepared statement of an SQLite connection.
class SqliteStatementImpl final : public SqlStatementImpl
{
public:
    SqliteStatementImpl(SqliteConnection &db, QByteArrayView sql)
        : m_db(db)
    {
        if (sqlite3_prepare_v2(db.handle(), sql.data(), int(sql.size()), &m_stmt, nullptr) !=
            SQLITE_OK)
            db.fail(QStringLiteral("preparação do comando"));
    }
    ~SqliteStatementImpl() override { sqlite3_finalize(m_stmt); }

    void bindUtf8(int index, QByteArrayView utf8) override
    {
        bindText(index, utf8, SQLITE_TRANSIENT);
    }
    void bindUtf8NoCopy(int index, QByteArrayView utf8) override
    {
        bindText(index, utf8, SQLITE_STATIC);
    }
    void bind(int index, qint64 value) override { check(sqlite3_bind_int64(m_stmt, index, value)); }
    void bind(int index, double value) override
    {
        check(sqlite3_bind_double(m_stmt, index, value));
    }
    void bindNull(int index) override { check(sqlite3_bind_null(m_stmt, index)); }

    bool step() override
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        const QString text = QString::fromUtf8(sqlite3_errmsg(m_db.handle()));
        const int code = sqlite3_extended_errcode(m_db.handle());
        m_db.statementFailed();
        sqlite3_reset(m_stmt);
        throw DatabaseError(QStringLiteral("Erro no banco de dados: %1").arg(text), code);
    }

    int execute() override
    {
        while (step()) {
        }
        const int changed = sqlite3_changes(m_db.handle());
        reset();
        return changed;
    }

    void reset() override
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    bool isNull(int column) const override
    {
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
    }
    QByteArrayView utf8(int column) const override
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        return data ? QByteArrayView(data, size) : QByteArrayView();
    }
    qint64 integer(int column) const override { return sqlite3_column_int64(m_stmt, column); }
    double real(int column) const override { return sqlite3_column_double(m_stmt, column); }
    void bindBytesNoCopy(int index, QByteArrayView bytes) override
    {
        // A null pointer would bind NULL, and empty bytes are still a value.
        static const char empty[] = "";
        const char *data = bytes.isEmpty() ? empty : bytes.data();
        check(sqlite3_bind_blob(m_stmt, index, data, int(bytes.size()), SQLITE_STATIC));
    }
    bool holdsBytes(int column) const override
    {
        return sqlite3_column_type(m_stmt, column) == SQLITE_BLOB;
    }
    // Read as the bytes they are: reading a BLOB as text would add a terminator to a copy.
    QByteArrayView bytes(int column) const override
    {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        return data ? QByteArrayView(data, size) : QByteArrayView("", 0);
    }

private:
    void bindText(int index, QByteArrayView utf8, sqlite3_destructor_type lifetime)
    {
        // An empty view may carry a null pointer, which SQLite would bind as NULL.
        static const char empty[] = "";
        const char *data = utf8.isEmpty() ? empty : utf8.data();
        check(sqlite3_bind_text(m_stmt, index, data, int(utf8.size()), lifetime));
    }
    void check(int rc) const
    {
        if (rc != SQLITE_OK)
            m_db.fail(QStringLiteral("associação de parâmetro"));
    }

    SqliteConnection &m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

// Many rows per INSERT: a million single-row statements spend more time being stepped and
// reset than writing the table.
class SqliteRowWriter final : public SqlRowWriter
{
public:
    static constexpr int kRowsPerInsert = 100;

    SqliteRowWriter(SqliteConnection &db, const QByteArray &table, const QList<QByteArray> &columns)
        : m_db(db)
        , m_columns(int(columns.size()))
    {
        m_head = "INSERT INTO " + table + " (" + columns.join(", ") + ") VALUES ";
        m_values.reserve(size_t(kRowsPerInsert) * size_t(m_columns));
    }

    void addText(QByteArrayView utf8) override
    {
        m_values.push_back(Value{utf8.toByteArray(), 0, Value::Text});
    }
    void addInteger(qint64 value) override { m_values.push_back(Value{{}, value, Value::Integer}); }
    void addNull() override { m_values.push_back(Value{{}, 0, Value::Null}); }
    void endRow() override
    {
        if (m_values.size() == size_t(kRowsPerInsert) * size_t(m_columns))
            flush();
    }
    void finish() override { flush(); }

private:
    struct Value
    {
        QByteArray text;
        qint64 integer;
        enum Kind { Text, Integer, Null } kind;
    };

    std::unique_ptr<SqlStatementImpl> make(int rows)
    {
        const QByteArray row = "(" + QByteArray("?, ").repeated(m_columns - 1) + "?)";
        QByteArray sql = m_head;
        for (int r = 0; r < rows; ++r)
            sql += (r ? ", " : "") + row;
        return std::make_unique<SqliteStatementImpl>(m_db, sql);
    }

    SqlStatementImpl &statementFor(int rows)
    {
        if (rows == kRowsPerInsert) {
            if (!m_full)
                m_full = make(rows);
            return *m_full;
        }
        if (!m_partial || m_partialRows != rows) {
            m_partial = make(rows);
            m_partialRows = rows;
        }
        return *m_partial;
    }

    void flush()
    {
        if (m_values.empty())
            return;
        const int rows = int(m_values.size()) / m_columns;
        SqlStatementImpl &insert = statementFor(rows);
        int index = 0;
        for (const Value &v : m_values) {
            ++index;
            if (v.kind == Value::Text)
                insert.bindUtf8NoCopy(index, v.text);
            else if (v.kind == Value::Integer)
                insert.bind(index, v.integer);
            else
                insert.bindNull(index);
        }
        try {
            insert.execute();
        } catch (...) {
            insert.reset();
            m_values.clear();
            throw;
        }
        m_values.clear();
    }

    SqliteConnection &m_db;
    const int m_columns;
    QByteArray m_head;
    std::vector<Value> m_values;
    std::unique_ptr<SqlStatementImpl> m_full;
    std::unique_ptr<SqlStatementImpl> m_partial;
    int m_partialRows = 0;
};

} // namespace

std::unique_ptr<SqlConnection> SqliteConnection::openAnother() const
{
    return std::make_unique<SqliteConnection>(m_path, m_busyTimeoutMs);
}

std::unique_ptr<SqlStatementImpl> SqliteConnection::prepare(QByteArrayView sql)
{
    return std::make_unique<SqliteStatementImpl>(*this, sql);
}

void SqliteConnection::begin(TransactionKind kind)
{
    if (kind != TransactionKind::Write) {
        exec("BEGIN DEFERRED");
        return;
    }
    // The same wait as SQLite's busy timeout, for the process's other writers.
    if (!m_writers->try_lock_for(std::chrono::milliseconds(std::max(m_busyTimeoutMs, 0))))
        throw DatabaseError(QStringLiteral("Erro no banco de dados: database is locked (outra "
                                           "gravação deste servidor não terminou em %1 ms)")
                                .arg(m_busyTimeoutMs),
                            SQLITE_BUSY);
    m_holdsWriters = true;
    try {
        exec("BEGIN IMMEDIATE");
    } catch (...) {
        releaseWriters();
        throw;
    }
}

void SqliteConnection::commit()
{
    exec("COMMIT");
    releaseWriters();
}

void SqliteConnection::rollback() noexcept
{
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    releaseWriters();
}

void SqliteConnection::releaseWriters() noexcept
{
    if (m_holdsWriters) {
        m_holdsWriters = false;
        m_writers->unlock();
    }
}

std::unique_ptr<SqlRowWriter> SqliteConnection::insertRows(const QByteArray &table,
                                                           const QList<QByteArray> &columns)
{
    return std::make_unique<SqliteRowWriter>(*this, table, columns);
}

} // namespace fis

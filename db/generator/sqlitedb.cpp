#include "sqlitedb.h"

#include "demodata.h"
#include "sqlscript.h"

#include <sqlite3.h>

namespace fis {

SqliteDb::SqliteDb(const QString &path, Mode mode)
    : m_path(path)
{
    const int flags =
        mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DemoDataError(
            QStringLiteral("Não foi possível abrir o banco de dados %1: %2").arg(path, reason));
    }
    sqlite3_extended_result_codes(m_db, 1);
}

SqliteDb::~SqliteDb()
{
    sqlite3_close(m_db);
}

void SqliteDb::fail(const QString &what) const
{
    throw DemoDataError(
        QStringLiteral("%1 (%2): %3").arg(what, m_path, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

void SqliteDb::exec(const char *sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(QStringLiteral("O SQL falhou: %1").arg(QString::fromUtf8(sql).left(80)));
}

void SqliteDb::execScript(const char *sql, QString *deferredIndexes)
{
    const char *rest = sql;
    while (rest && *rest) {
        sqlite3_stmt *stmt = nullptr;
        const char *tail = nullptr;
        if (sqlite3_prepare_v2(m_db, rest, -1, &stmt, &tail) != SQLITE_OK)
            fail(QStringLiteral("Um comando do esquema falhou perto de: %1")
                     .arg(QString::fromUtf8(rest).simplified().left(80)));
        if (stmt) {
            const QString text = QString::fromUtf8(sqlite3_sql(stmt));
            if (isCreateIndex(text) && deferredIndexes) {
                *deferredIndexes += text + QLatin1String(";\n");
            } else {
                const int rc = sqlite3_step(stmt);
                if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
                    sqlite3_finalize(stmt);
                    fail(QStringLiteral("Um comando do esquema falhou: %1")
                             .arg(text.simplified().left(80)));
                }
            }
            sqlite3_finalize(stmt);
        }
        rest = tail;
    }
}

SqliteStmt::SqliteStmt(SqliteDb &db, const char *sql)
    : m_db(db)
{
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        db.fail(QStringLiteral("Não foi possível preparar %1")
                    .arg(QString::fromUtf8(sql).simplified().left(80)));
}

SqliteStmt::~SqliteStmt()
{
    sqlite3_finalize(m_stmt);
}

void SqliteStmt::bind(int index, std::string_view text)
{
    const int rc = text.empty()
                       ? sqlite3_bind_null(m_stmt, index)
                       : sqlite3_bind_text(m_stmt, index, text.data(),
                                           static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        m_db.fail(QStringLiteral("Não foi possível associar o parâmetro %1").arg(index));
}

void SqliteStmt::bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        m_db.fail(QStringLiteral("Não foi possível associar o parâmetro %1").arg(index));
}

void SqliteStmt::bindDecimal(int index, std::int64_t units, int decimals)
{
    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    // Whole values go in as integers: SQLite's NUMERIC affinity would store them so anyway.
    const int rc =
        units % scale == 0
            ? sqlite3_bind_int64(m_stmt, index, units / scale)
            : sqlite3_bind_double(m_stmt, index,
                                  static_cast<double>(units) / static_cast<double>(scale));
    if (rc != SQLITE_OK)
        m_db.fail(QStringLiteral("Não foi possível associar o parâmetro %1").arg(index));
}

void SqliteStmt::bindNull(int index)
{
    if (sqlite3_bind_null(m_stmt, index) != SQLITE_OK)
        m_db.fail(QStringLiteral("Não foi possível associar o parâmetro %1").arg(index));
}

void SqliteStmt::execute()
{
    const int rc = sqlite3_step(m_stmt);
    sqlite3_reset(m_stmt);
    if (rc != SQLITE_DONE)
        m_db.fail(QStringLiteral("O comando falhou: %1")
                      .arg(QString::fromUtf8(sqlite3_sql(m_stmt)).simplified().left(80)));
}

bool SqliteStmt::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        m_db.fail(QStringLiteral("A consulta falhou: %1")
                      .arg(QString::fromUtf8(sqlite3_sql(m_stmt)).simplified().left(80)));
    return false;
}

void SqliteStmt::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int SqliteStmt::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

QVariant SqliteStmt::value(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_NULL:
        return {};
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, column));
    default:
        return text(column);
    }
}

QString SqliteStmt::text(int column) const
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column)));
}

std::int64_t SqliteStmt::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStmt::real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

bool SqliteStmt::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

} // namespace fis

#include "server/sqliterows.h"

#include "sqldb/sqliteconnection.h"

#include <sqlite3.h>

#include <cstring>
#include <memory>

namespace fis {

namespace {

struct Finalize
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

Statement prepared(SqliteConnection &db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &statement, nullptr) != SQLITE_OK)
        db.fail(QStringLiteral("Não foi possível preparar o comando"));
    return Statement(statement);
}

template<typename T> void put(QByteArray &out, T value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

template<typename T> T take(const char *&at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

} // namespace

SqliteRows::SqliteRows(SqliteConnection &db, const char *select, qint64 parameter)
{
    const Statement q = prepared(db, select);
    sqlite3_bind_int64(q.get(), 1, parameter);
    m_columns = sqlite3_column_count(q.get());
    int step;
    while ((step = sqlite3_step(q.get())) == SQLITE_ROW) {
        for (int c = 0; c < m_columns; ++c) {
            const int type = sqlite3_column_type(q.get(), c);
            m_values.append(char(type));
            if (type == SQLITE_INTEGER) {
                put(m_values, qint64(sqlite3_column_int64(q.get(), c)));
            } else if (type == SQLITE_FLOAT) {
                put(m_values, sqlite3_column_double(q.get(), c));
            } else if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
                const void *bytes = type == SQLITE_TEXT
                                        ? static_cast<const void *>(sqlite3_column_text(q.get(), c))
                                        : sqlite3_column_blob(q.get(), c);
                const int size = sqlite3_column_bytes(q.get(), c);
                put(m_values, qint32(size));
                m_values.append(static_cast<const char *>(bytes), size);
            }
        }
        ++m_rows;
    }
    if (step != SQLITE_DONE)
        db.fail(QStringLiteral("Não foi possível ler as linhas"));
}

void SqliteRows::insertInto(SqliteConnection &db, const char *insert) const
{
    const Statement q = prepared(db, insert);
    const char *at = m_values.constData();
    for (qint64 row = 0; row < m_rows; ++row) {
        for (int c = 1; c <= m_columns; ++c) {
            const int type = *at++;
            int bound = SQLITE_OK;
            if (type == SQLITE_INTEGER) {
                bound = sqlite3_bind_int64(q.get(), c, take<qint64>(at));
            } else if (type == SQLITE_FLOAT) {
                bound = sqlite3_bind_double(q.get(), c, take<double>(at));
            } else if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
                const auto size = take<qint32>(at);
                bound = type == SQLITE_TEXT
                            ? sqlite3_bind_text(q.get(), c, at, size, SQLITE_STATIC)
                            : sqlite3_bind_blob(q.get(), c, at, size, SQLITE_STATIC);
                at += size;
            } else {
                bound = sqlite3_bind_null(q.get(), c);
            }
            if (bound != SQLITE_OK)
                db.fail(QStringLiteral("Não foi possível copiar as linhas"));
        }
        if (sqlite3_step(q.get()) != SQLITE_DONE)
            db.fail(QStringLiteral("Não foi possível copiar as linhas"));
        sqlite3_reset(q.get());
    }
}

} // namespace fis

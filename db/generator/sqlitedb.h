#pragma once

#include <QString>
#include <QVariant>

#include <cstdint>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace fis {

// Thin owners of an SQLite connection and statement for the generator's bulk work. Every
// failure throws DemoDataError carrying SQLite's own message.
class SqliteDb
{
public:
    // Existing opens a file that must exist, read-write so that closing it tidies the WAL files.
    enum class Mode { ReadOnly, Existing, Create };

    SqliteDb(const QString &path, Mode mode);
    ~SqliteDb();
    SqliteDb(const SqliteDb &) = delete;
    SqliteDb &operator=(const SqliteDb &) = delete;

    sqlite3 *handle() const { return m_db; }

    // Runs one or more statements that return no rows.
    void exec(const char *sql);
    // Runs a script statement by statement; CREATE INDEX statements are not run but collected
    // into deferredIndexes (when given), so that indexes can be built after a bulk load.
    void execScript(const char *sql, QString *deferredIndexes = nullptr);

    [[noreturn]] void fail(const QString &what) const;

private:
    sqlite3 *m_db = nullptr;
    QString m_path;
};

class SqliteStmt
{
public:
    SqliteStmt(SqliteDb &db, const char *sql);
    ~SqliteStmt();
    SqliteStmt(const SqliteStmt &) = delete;
    SqliteStmt &operator=(const SqliteStmt &) = delete;

    // Binding by position, from 1. Texts are copied by SQLite, so the caller's buffer may be
    // reused at once; an empty text is bound as NULL.
    void bind(int index, std::string_view text);
    void bind(int index, std::int64_t value);
    // A decimal held as an integer count of 10^-decimals units (cents: decimals = 2).
    void bindDecimal(int index, std::int64_t units, int decimals);
    void bindCents(int index, std::int64_t cents) { bindDecimal(index, cents, 2); }
    void bindNull(int index);

    // Runs a statement that returns no row, then resets it for the next binding.
    void execute();
    // Steps through rows: true while a row is available.
    bool step();
    void reset();

    int columnCount() const;
    // A column of the current row: an integer, a double, a text, or null.
    QVariant value(int column) const;
    QString text(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    bool isNull(int column) const;

private:
    SqliteDb &m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace fis

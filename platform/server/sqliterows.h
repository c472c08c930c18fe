#pragma once

#include <QByteArray>

namespace fis {

class SqliteConnection;

// Rows an SQLite statement gave, each value kept with its own type (integer, real, text, bytes
// or NULL), so that another connection can be given the very same rows: a temporary table is
// its connection's alone.
class SqliteRows
{
public:
    // Every row of `select`, whose ?1 is bound to `parameter`.
    SqliteRows(SqliteConnection &db, const char *select, qint64 parameter);

    // Runs `insert` once per row, with the row's values bound to ?1, ?2 and on.
    void insertInto(SqliteConnection &db, const char *insert) const;
    qint64 rows() const { return m_rows; }

private:
    int m_columns = 0;
    qint64 m_rows = 0;
    QByteArray m_values; // each a type byte, then 8 bytes of a number or a length and the bytes
};

} // namespace fis

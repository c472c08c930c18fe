#include "server/multirowinsert.h"

#include <algorithm>

namespace fis {

namespace {

int highestShared(const QList<int> &row)
{
    return row.isEmpty() ? 0 : *std::max_element(row.cbegin(), row.cend());
}

} // namespace

MultiRowInsert::MultiRowInsert(SqlConnection &db, QByteArray into, QList<int> row,
                               int rowsPerStatement)
    : m_db(db)
    , m_into(std::move(into))
    , m_row(std::move(row))
    , m_rowsPerStatement(rowsPerStatement)
    , m_firstOwn(highestShared(m_row) + 1)
    , m_ownPerRow(int(m_row.count(0)))
    , m_full(db, sql(m_into, m_row, rowsPerStatement).constData())
{}

QByteArray MultiRowInsert::sql(QByteArrayView into, const QList<int> &row, int rows)
{
    int own = highestShared(row);
    QByteArray sql = into.toByteArray() + " VALUES ";
    for (int r = 0; r < rows; ++r) {
        sql += r ? ", (" : "(";
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (c)
                sql += ", ";
            sql += '?' + QByteArray::number(row.at(c) ? row.at(c) : ++own);
        }
        sql += ')';
    }
    return sql;
}

void MultiRowInsert::insert(int count, const Binder &bind)
{
    for (int first = 0; first < count; first += m_rowsPerStatement) {
        const int rows = std::min(m_rowsPerStatement, count - first);
        if (rows == m_rowsPerStatement) {
            execute(m_full, first, rows, bind);
        } else {
            // Only the last rows.
            SqlStatement rest(m_db, sql(m_into, m_row, rows).constData());
            execute(rest, first, rows, bind);
        }
    }
}

void MultiRowInsert::execute(SqlStatement &insert, int first, int rows, const Binder &bind)
{
    bind(insert, first, rows);
    try {
        insert.execute();
    } catch (const DatabaseError &) {
        insert.reset();
        throw;
    }
}

} // namespace fis

#pragma once

#include "sqldb/sqldatabase.h"

#include <QByteArray>
#include <QList>

#include <functional>

namespace fis {

// Stores rows many per INSERT: a million single-row statements spend more time being stepped
// and reset than writing the table.
//
// Every row has the same values clause. A value is either a parameter that every row shares
// (the same ?N in each row, bound once per statement) or one of the row's own, numbered on after
// the highest shared one, row after row.
class MultiRowInsert
{
public:
    // `into` is the statement's head ("INSERT INTO T (A, B, C)"); `row` gives, for each column,
    // the number of the shared parameter it takes (1, 2, ...) or 0 for a value of the row's own.
    // Prepares the statement for `rowsPerStatement` rows; throws DatabaseError when it cannot.
    MultiRowInsert(SqlConnection &db, QByteArray into, QList<int> row, int rowsPerStatement);

    // The statement's text for `rows` rows.
    static QByteArray sql(QByteArrayView into, const QList<int> &row, int rows);

    int rowsPerStatement() const { return m_rowsPerStatement; }
    // The parameter of the `value`-th own value of the statement's row `row` (both from 0).
    int parameter(int row, int value) const { return m_firstOwn + row * m_ownPerRow + value; }

    // Binds the shared parameters and the statement's rows 0 to `rows` - 1, which are rows
    // `first` to `first` + `rows` - 1 of those being inserted.
    using Binder = std::function<void(SqlStatement &insert, int first, int rows)>;
    // Inserts `count` rows, rowsPerStatement() per statement and the rest in a statement of its
    // own. On failure the statement is reset (its bindings cleared) and the DatabaseError goes on.
    void insert(int count, const Binder &bind);

private:
    void execute(SqlStatement &insert, int first, int rows, const Binder &bind);

    SqlConnection &m_db;
    const QByteArray m_into;
    const QList<int> m_row;
    const int m_rowsPerStatement;
    int m_firstOwn = 1;
    int m_ownPerRow = 0;
    SqlStatement m_full;
};

} // namespace fis

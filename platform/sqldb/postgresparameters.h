#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace fis {

// A statement text with SQLite's parameters turned into PostgreSQL's: `?N` becomes `$N`, a bare
// `?` becomes the parameter after the highest one so far (as SQLite numbers it). Quoted texts
// ('...'), quoted names ("...") and comments are copied as they are.
struct PostgresStatementText
{
    QByteArray sql;
    // used[N - 1]: whether `$N` occurs; its size is the highest number.
    std::vector<bool> used;

    int parameterCount() const { return int(used.size()); }
};

// Throws DatabaseError for `?0` or a number past what PostgreSQL takes.
PostgresStatementText toPostgresParameters(QByteArrayView sql);

} // namespace fis

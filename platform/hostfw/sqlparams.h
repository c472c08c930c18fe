#pragma once

#include <QString>
#include <QStringList>

namespace fis {

// A statement with its named placeholders (":P_X") replaced by positional ones ("?"), and the
// name bound at each position in order. A name used twice appears twice, so every occurrence
// gets the same value whatever the driver does with repeated names.
struct PositionalSql
{
    QString sql;
    QStringList names; // upper-case, one per "?"
};

// Rewrites the named placeholders of a statement. Text inside quotes ('...', "...", [...]) and
// comments (-- and /* */) is left alone, and so is a PostgreSQL cast "::type". Throws
// DatabaseError when the statement holds a positional "?" outside quotes: its value could not
// be told apart from the named ones.
PositionalSql toPositionalSql(const QString &sql);

// The distinct placeholder names of a statement, upper-case, in order of first use.
QStringList placeholderNames(const QString &sql);

} // namespace fis

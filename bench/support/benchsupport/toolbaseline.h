#pragma once

// The baseline of the export figures: the engine's own command-line tool writing the same lines
// into a file. The lines are taken from the files the export wrote and stored in a table of the
// benchmark's own, so that the baseline does not depend on where the server keeps a file's lines;
// the tool's output is then compared with the export's files line by line.

#include "base/databasetarget.h"
#include "benchsupport/figure.h"

#include <QString>
#include <QStringList>

namespace fis::bench {

struct ToolBaseline
{
    QString tool;       // "sqlite3" or "psql"
    double seconds = 0; // the tool writing every line, from its start to its end
    qint64 lines = 0;   // lines compared
    Check check;        // the tool's output equals the files, line by line
};

// Stores the lines of `files` (ISO-8859-1, CR LF), in that order, in a table BENCHLINHA (file,
// line, text; keyed in that order) and times the tool writing them out in key order:
//   SQLite: in a copy of the database file made in `workDir` (the servers on it must have
//   stopped), then `sqlite3 COPY ".output OUT" "SELECT ..."`;
//   PostgreSQL: in the database itself, which must be the benchmark's own, then
//   `psql -c "\copy (SELECT ...) TO OUT"`.
// Loading the table is not timed. Throws fis::Error when the database cannot be used.
ToolBaseline measureToolBaseline(const DatabaseTarget &database, const QStringList &files,
                                 const QString &workDir);

} // namespace fis::bench

#pragma once

#include "base/databasetarget.h"
#include "base/error.h"

#include <QString>

#include <cstdint>

namespace fis {

// Raised by the demo-data functions for any failure: a bad argument, a file that cannot be
// created or opened, a database error of any engine. The text is meant for the user; it never
// holds a password.
class DemoDataError : public Error
{
public:
    explicit DemoDataError(const QString &message)
        : Error(Kind::Data, message)
    {}
};

inline constexpr int kMinDemoInvoices = 10;
inline constexpr int kMaxDemoInvoices = 1000000;
inline constexpr std::uint64_t kDefaultDemoSeed = 20250520;

struct DemoDataStats
{
    qint64 invoices = 0;
    qint64 items = 0;
    qint64 clients = 0;
    qint64 products = 0;
    qint64 elapsedMs = 0;
};

// The schema scripts (db/schema/*.sql) as compiled into the library.
const char *sqliteSchemaScript();
const char *postgresqlSchemaScript();
const char *firebirdSchemaScript();

// Creates the demo database at path: an existing file (and its -wal/-shm companions) is removed
// first, the schema is applied, the fixed reference data and `invoices` invoices drawn from
// `seed` are written, and the file is left in WAL mode. The same arguments always give the same
// data. Throws DemoDataError when invoices is outside [kMinDemoInvoices, kMaxDemoInvoices] or
// when anything fails; a failed run removes the half-written file.
DemoDataStats generateDemoDatabase(const QString &path, int invoices,
                                   std::uint64_t seed = kDefaultDemoSeed);

// The same demo data on any engine: an SQLite target is the file above; on PostgreSQL and
// Firebird the data is generated into a temporary SQLite file and copied there
// (copyDemoDatabase), so the same arguments write the same rows to every engine.
DemoDataStats generateDemoDatabase(const DatabaseTarget &target, int invoices,
                                   std::uint64_t seed = kDefaultDemoSeed);

// Copies the SQLite database at sqlitePath into a PostgreSQL or Firebird target, built from
// that engine's schema script: the schema first, every table's rows (values bound, many rows to a
// statement) in one transaction, the secondary indexes after, and the sequences set to follow the
// numbers the file's SEQCOMPRALEG has handed out.
//   PostgreSQL: the named database must exist; everything the schema creates is dropped and
//   made again in one transaction with the rows, so a failure leaves the database as it was.
//   Firebird: the database file is created on the server (page size 16384, character set UTF8),
//   an existing one dropped first; a failed copy drops what it made.
// Throws DemoDataError.
void copyDemoDatabase(const QString &sqlitePath, const DatabaseTarget &target);

// A short human-readable account of what the database at path holds: rows per table, companies,
// taxes, the current branch and its processing date, invoices per month and status. Changes
// nothing in the file; throws DemoDataError when it does not exist or is not such a database.
QString demoDatabaseSummary(const QString &path);
// The same for a database on any engine; reads only.
QString demoDatabaseSummary(const DatabaseTarget &target);

} // namespace fis

#pragma once

#include "base/error.h"

#include <QString>

#include <cstdint>

namespace fis {

// Raised by the demo-data functions for any failure: a bad argument, a file that cannot be
// created or opened, an SQLite error. The text is meant for the user.
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

// The SQLite schema script (db/schema/sqlite.sql) as compiled into the library.
const char *sqliteSchemaScript();

// Creates the demo database at path: an existing file (and its -wal/-shm companions) is removed
// first, the schema is applied, the fixed reference data and `invoices` invoices drawn from
// `seed` are written, and the file is left in WAL mode. The same arguments always give the same
// data. Throws DemoDataError when invoices is outside [kMinDemoInvoices, kMaxDemoInvoices] or
// when anything fails; a failed run removes the half-written file.
DemoDataStats generateDemoDatabase(const QString &path, int invoices,
                                   std::uint64_t seed = kDefaultDemoSeed);

// A short human-readable account of what the database at path holds: rows per table, companies,
// taxes, the current branch and its processing date, invoices per month and status. Changes
// nothing in the file; throws DemoDataError when it does not exist or is not such a database.
QString demoDatabaseSummary(const QString &path);

} // namespace fis

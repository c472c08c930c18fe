#pragma once

// Data the benchmarks add to a demo database.

#include <QString>

class QProcess;

namespace fis::bench {

// Adds `count` invoices of one registration (branch 0001, registration 052147836, company 01,
// issued over 2025-01-01 to 2025-04-30) with `items` items each, unique numbers. The items cycle
// through the demo's 200 products, so the records 75 of a file stay 200 whatever the size; the
// invoice totals follow the item count, as the schema's sums require. Stops the program on an
// error.
void addInvoices(const QString &path, int count, int items);

// Starts fis11000-server (from FIS_BIN_DIR, else beside this program) on a free port with its
// log in `logPath`, and returns the port. Stops the program when the server does not start.
quint16 startServer(QProcess &server, const QString &database, const QString &outputDir,
                    const QString &logPath);

} // namespace fis::bench

#pragma once

// Data added to a generated demo database, beyond what the generator draws.

#include <QString>

namespace fis::test {

// Adds `count` invoices of one registration (branch 0001, registration 052147836, company 01,
// issued over 2025-01-01 to 2025-04-30) with `items` items each, unique numbers. The items cycle
// through the demo's 200 products, so the records 75 of a file stay 200 whatever the size; the
// invoice totals follow the item count, as the schema's sums require. Stops the program on an
// error.
void addInvoices(const QString &path, int count, int items);

} // namespace fis::test

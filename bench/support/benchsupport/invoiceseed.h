#pragma once

// Invoices added to a generated demo database for the benchmarks, beyond what the generator
// draws: any number of them, their items, dates and exported flags chosen by the benchmark.

#include <QDate>
#include <QList>
#include <QString>

namespace fis::bench {

// A block of invoices of branch 0001, company 01, registration 052147836, invoice n (from 1)
// posted as prefix + nine digits of n. The items cycle through the demo's 200 products, so the
// records 75 of a file stay 200; the totals follow the item count, as the schema's sums require.
struct InvoiceBlock
{
    int count = 0;
    QList<int> items = {3};  // invoice n has items[n % size] items (1 to 999)
    QDate first{2025, 1, 1}; // invoice n is issued on first + (n - 1) * days / count
    int days = 120;
    char prefix = 'B';       // postings of other blocks and of the demo never start with it
    int exportedEvery = 0;   // every n-th invoice is already exported; 0: none
    int numberBase = 500000; // NRNOTAFISC is numberBase + n
};

// Adds the block to the SQLite database at `path` in one transaction; stops the program on an
// error, since a benchmark cannot go on without its data.
void seedInvoices(const QString &path, const InvoiceBlock &block);

} // namespace fis::bench

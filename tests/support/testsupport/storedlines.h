#pragma once

// The lines of the files as the server stores them, read apart from the server's own code: a row
// per block of consecutive lines of one file (BLOCOARQCOMPRALEG), expanded here into its lines.
// Also the table of one row per line that came before the blocks, for the tests of the upgrade.

#include <QList>
#include <QString>
#include <QStringList>

namespace fis::test {

class TestDatabase;

// Every line is this long; a block is its lines back to back.
inline constexpr int kStoredLineLength = 126;

struct StoredLine
{
    qint64 number = 0; // NRORDREGARQ of the line, from 1
    QString text;
    qint64 sequence = 0; // SQUENCIAL of the line
    bool operator==(const StoredLine &) const = default;
};

// The file's stored lines in order, each block cut into its NRLINHAS lines.
QList<StoredLine> storedLines(const TestDatabase &db, const QString &fileNumber);

// How many lines are stored for the file, for the files of a list, for the files of a
// registration, or for every file.
qint64 storedLineCount(const TestDatabase &db, const QString &fileNumber);
qint64 storedLineCountOfList(const TestDatabase &db, const QString &list);
qint64 storedLineCount(const TestDatabase &db);

// The SQLite statements that turn a database of this server back into one of the server before
// blocks: REGARQCOMPRALEG with one row per line in place of BLOCOARQCOMPRALEG, every stored line
// in it with its number and SQUENCIAL. One statement per element.
QStringList toLineRowsStatements();

} // namespace fis::test

#pragma once

// The lines of the files as the server stores them, read apart from the server's own code: a row
// per block of consecutive lines of one file (BLOCOARQCOMPRALEG), expanded here into its lines;
// on SQLite a block may be its lines LZ4-compressed, kept as bytes.
// Also the table of one row per line that came before the blocks, for the tests of the upgrade.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

namespace fis {

class SqlConnection;

namespace test {

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

// The text of a block of `lines` lines kept LZ4-compressed; stops the test program when the
// bytes are not exactly those lines compressed.
QByteArray unpackedBlock(QByteArrayView packed, qint64 lines);

// Turns an SQLite database of this server back into one of the server before blocks:
// REGARQCOMPRALEG with one row per line in place of BLOCOARQCOMPRALEG, every stored line in it
// with its number and SQUENCIAL.
void toLineRows(SqlConnection &db);

} // namespace test
} // namespace fis

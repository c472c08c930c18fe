#pragma once

// A file's lines as the database keeps them (BLOCOARQCOMPRALEG): blocks of consecutive lines,
// one row each, so that a file of a million lines is some 4,000 rows and index entries instead of
// a million. A block's row holds the number of its first line (NRORDREGARQ, from 1), how many
// lines it holds (NRLINHAS), the SQUENCIAL of its first line (the next ones count up by one) and
// its lines back to back, without line ends (DSREGARQMAG). Every line is kRecordLength bytes, so
// a line's place in its block follows from its number.
//
// On SQLite a block is kept LZ4-compressed, as bytes (a BLOB in the text column), when that is
// shorter: a file's lines shrink to about 40 %, and SQLite writes, logs and reads its pages
// itself, in the server's threads. A block kept as text is read as ever. The server engines
// compress the column themselves (PostgreSQL with LZ4, as the schema sets the column, Firebird by
// its records' run-length compression).

#include "layout/records.h"
#include "server/storedline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

namespace fis {

class SqlConnection;
class SqlRowWriter;
class SqlStatement;

namespace lineblocks {

// The most lines a block holds: 31,500 bytes, which every engine stores as one value (Firebird's
// longest VARCHAR is 32,765 bytes, its row 64 KB).
inline constexpr int kLinesPerBlock = 250;
inline constexpr qsizetype kBlockBytes = qsizetype(kLinesPerBlock) * kRecordLength;

// Stores a file's lines in blocks of kLinesPerBlock, the last one shorter, numbered from 1: as
// prepared INSERTs on SQLite, through the engine's bulk path elsewhere (PostgreSQL's COPY,
// Firebird's blocks of inserts). Each block is bound as one value, a slice of the lines given
// where they hold whole blocks; only the lines of an unfinished block are copied, to wait for
// the next ones. Works inside the caller's transaction; throws DatabaseError.
class BlockWriter
{
public:
    BlockWriter(SqlConnection &db, const QString &fileNumber, const QString &listNumber,
                qint64 sequenceBase);
    ~BlockWriter();
    BlockWriter(const BlockWriter &) = delete;
    BlockWriter &operator=(const BlockWriter &) = delete;

    // Lines of kRecordLength bytes each, back to back, following those added before.
    void add(QByteArrayView lines);
    // The lines added next are the file's lines from `line` on, for a file whose lines come in
    // runs from more than one builder: the block under way is stored as it is, shorter.
    void continueAt(qint64 line);
    // Stores the last block; everything added is written once this returns.
    void finish();
    // The lines added so far.
    qint64 lines() const { return m_added; }

private:
    void write(QByteArrayView block);

    const QByteArray m_fileNumber;
    const QByteArray m_listNumber;
    const qint64 m_sequenceBase;
    std::unique_ptr<SqlStatement> m_insert; // SQLite
    std::unique_ptr<SqlRowWriter> m_rows;   // the other engines
    QByteArray m_partial;                   // the lines of a block not yet full
    QByteArray m_packed;                    // a block compressed, on SQLite
    qint64 m_written = 0;                   // lines in the blocks written
    qint64 m_added = 0;
};

// Hands the file's stored lines `from` to `to` to `line`, in order, each sliced out of its
// block. A block whose text is not NRLINHAS lines long, or that holds more than kLinesPerBlock
// lines, and blocks that leave out or repeat lines between `from` and the last one found, are a
// DatabaseError: a page never carries a short or a missing line. Lines past the file's end are
// not there; the caller, who knows the file's length, tells that apart.
void read(SqlConnection &db, const QString &fileNumber, qint64 from, qint64 to,
          const StoredLineSink &line);

} // namespace lineblocks

} // namespace fis

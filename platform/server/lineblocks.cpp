#include "server/lineblocks.h"

#include "sqldb/sqldatabase.h"

#include <lz4.h>

#include <algorithm>
#include <limits>

namespace fis::lineblocks {

namespace {

constexpr char kInsert[] = "INSERT INTO BLOCOARQCOMPRALEG (NRSEQARQMAG, NRORDREGARQ, NRLINHAS,"
                           " NRLISTA, SQUENCIAL, DSREGARQMAG) VALUES (?1, ?2, ?3, ?4, ?5, ?6)";

// A block's text must be its lines exactly: anything else would slice into short or shifted
// lines.
void checkBlock(const QString &fileNumber, qint64 first, qint64 count, QByteArrayView text)
{
    if (count < 1 || count > kLinesPerBlock)
        throw DatabaseError(QStringLiteral("O bloco de linhas do arquivo %1 que começa na linha "
                                           "%2 diz ter %3 linhas; um bloco tem de 1 a %4.")
                                .arg(fileNumber)
                                .arg(first)
                                .arg(count)
                                .arg(kLinesPerBlock));
    if (text.size() != count * kRecordLength)
        throw DatabaseError(QStringLiteral("O bloco de linhas do arquivo %1 que começa na linha "
                                           "%2 tem %3 caracteres, e não %4 (%5 linhas de %6): "
                                           "as linhas guardadas estão corrompidas.")
                                .arg(fileNumber)
                                .arg(first)
                                .arg(text.size())
                                .arg(count * kRecordLength)
                                .arg(count)
                                .arg(kRecordLength));
}

// The block that starts at `first` where line `next` was due.
[[noreturn]] void misplacedBlock(const QString &fileNumber, qint64 first, qint64 next)
{
    if (first > next)
        throw DatabaseError(
            QStringLiteral("Faltam no banco de dados as linhas %1 a %2 do arquivo %3.")
                .arg(next)
                .arg(first - 1)
                .arg(fileNumber));
    throw DatabaseError(QStringLiteral("O banco de dados guarda duas vezes as linhas %1 a %2 do "
                                       "arquivo %3.")
                            .arg(first)
                            .arg(next - 1)
                            .arg(fileNumber));
}

// The text a compressed block holds, the block that starts at line `first`: read() checks it as
// it checks a block kept as text. Bytes that are not LZ4's, or hold more than a block, are a
// DatabaseError.
QByteArray unpack(QByteArrayView packed, const QString &fileNumber, qint64 first)
{
    QByteArray text(kBlockBytes, Qt::Uninitialized);
    // Safe on any bytes: reads and writes within both buffers, and fails on more than a block.
    const int size =
        packed.size() > std::numeric_limits<int>::max()
            ? -1
            : LZ4_decompress_safe(packed.data(), text.data(), int(packed.size()), int(text.size()));
    if (size < 0)
        throw DatabaseError(QStringLiteral("O bloco de linhas do arquivo %1 que começa na linha "
                                           "%2 não se descomprime em até %3 linhas: as linhas "
                                           "guardadas estão corrompidas.")
                                .arg(fileNumber)
                                .arg(first)
                                .arg(kLinesPerBlock));
    text.truncate(size);
    return text;
}

} // namespace

BlockWriter::BlockWriter(SqlConnection &db, const QString &fileNumber, const QString &listNumber,
                         qint64 sequenceBase)
    : m_fileNumber(fileNumber.toUtf8())
    , m_listNumber(listNumber.toUtf8())
    , m_sequenceBase(sequenceBase)
{
    // A file of a million lines is 4,000 blocks: one prepared INSERT each costs SQLite nothing
    // worth batching; the server engines would pay a round trip per row.
    if (db.engine() == DatabaseEngine::Sqlite)
        m_insert = std::make_unique<SqlStatement>(db, kInsert);
    else
        m_rows = db.insertRows("BLOCOARQCOMPRALEG", {"NRSEQARQMAG", "NRORDREGARQ", "NRLINHAS",
                                                     "NRLISTA", "SQUENCIAL", "DSREGARQMAG"});
    m_partial.reserve(kBlockBytes);
}

BlockWriter::~BlockWriter() = default;

void BlockWriter::add(QByteArrayView lines)
{
    if (lines.size() % kRecordLength != 0)
        throw DatabaseError(QStringLiteral("As linhas do arquivo %1 não têm %2 caracteres cada.")
                                .arg(QString::fromUtf8(m_fileNumber))
                                .arg(kRecordLength));
    m_added += lines.size() / kRecordLength;
    if (!m_partial.isEmpty()) {
        const qsizetype taken = std::min(kBlockBytes - m_partial.size(), lines.size());
        m_partial.append(lines.first(taken));
        lines = lines.sliced(taken);
        if (m_partial.size() < kBlockBytes)
            return;
        write(m_partial);
        m_partial.resize(0);
    }
    for (; lines.size() >= kBlockBytes; lines = lines.sliced(kBlockBytes))
        write(lines.first(kBlockBytes));
    m_partial.append(lines);
}

void BlockWriter::continueAt(qint64 line)
{
    if (!m_partial.isEmpty()) {
        write(m_partial);
        m_partial.resize(0);
    }
    m_written = line - 1;
}

void BlockWriter::finish()
{
    if (!m_partial.isEmpty()) {
        write(m_partial);
        m_partial.resize(0);
    }
    if (m_rows)
        m_rows->finish();
}

void BlockWriter::write(QByteArrayView block)
{
    const qint64 count = block.size() / kRecordLength;
    const qint64 first = m_written + 1;
    if (m_insert) {
        m_insert->bindUtf8NoCopy(1, m_fileNumber);
        m_insert->bind(2, first);
        m_insert->bind(3, count);
        m_insert->bindUtf8NoCopy(4, m_listNumber);
        m_insert->bind(5, m_sequenceBase + first);
        // A block is far below LZ4's limits; lines that do not shrink stay text.
        m_packed.resize(LZ4_compressBound(int(block.size())));
        const int packed = LZ4_compress_default(block.data(), m_packed.data(), int(block.size()),
                                                int(m_packed.size()));
        if (packed > 0 && packed < block.size())
            m_insert->bindBytesNoCopy(6, QByteArrayView(m_packed).first(packed));
        else
            m_insert->bindUtf8NoCopy(6, block);
        m_insert->execute();
    } else {
        m_rows->addText(m_fileNumber);
        m_rows->addInteger(first);
        m_rows->addInteger(count);
        m_rows->addText(m_listNumber);
        m_rows->addInteger(m_sequenceBase + first);
        m_rows->addText(block);
        m_rows->endRow();
    }
    m_written += count;
}

void read(SqlConnection &db, const QString &fileNumber, qint64 from, qint64 to,
          const StoredLineSink &line)
{
    // No line has a number below 1.
    qint64 next = std::max<qint64>(from, 1);
    if (next > to)
        return;
    // A block that holds line `next` starts at most kLinesPerBlock - 1 lines before it: the key's
    // range stays one sequential stretch of the table.
    SqlStatement q(db, "SELECT NRORDREGARQ, NRLINHAS, SQUENCIAL, DSREGARQMAG"
                       " FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ?1"
                       " AND NRORDREGARQ BETWEEN ?2 AND ?3 ORDER BY NRORDREGARQ");
    q.bind(1, fileNumber);
    q.bind(2, next - (kLinesPerBlock - 1));
    q.bind(3, to);
    bool started = false;
    QByteArray unpacked;
    while (q.step()) {
        const qint64 first = q.integer(0);
        const qint64 count = q.integer(1);
        QByteArrayView text;
        if (q.holdsBytes(3)) {
            // Lives until the next block is read.
            unpacked = unpack(q.bytes(3), fileNumber, first);
            text = unpacked;
        } else {
            text = q.utf8(3);
        }
        checkBlock(fileNumber, first, count, text);
        const qint64 end = first + count; // the line after the block
        if (!started && end <= next)
            continue; // ends before the range
        if (first > next || (started && first < next))
            misplacedBlock(fileNumber, first, next);
        started = true;
        const qint64 sequence = q.integer(2);
        for (; next < end && next <= to; ++next)
            line(next, text.sliced((next - first) * kRecordLength, kRecordLength),
                 sequence + (next - first));
    }
}

} // namespace fis::lineblocks

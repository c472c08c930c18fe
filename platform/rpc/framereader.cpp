#include "rpc/framereader.h"

#include "base/hugepages.h"
#include "rpc/rpcerror.h"

#include <algorithm>

namespace fis {

namespace {

// A declared length only earns this much memory before its bytes actually arrive, so a peer that
// announces a large frame and sends nothing costs little. Once they have come, the rest of the
// body gets its room in one step: growing by doubling would copy a page of lines several times
// over and touch twice its memory.
constexpr qint64 kInitialReserve = qint64(1) << 20;

} // namespace

FrameReader::FrameReader(qint64 maxFrameSize)
{
    setMaxFrameSize(maxFrameSize);
}

void FrameReader::setMaxFrameSize(qint64 bytes)
{
    m_maxFrameSize = std::clamp<qint64>(bytes, 0, kLargestFrameSize);
}

void FrameReader::feed(QByteArrayView bytes)
{
    if (m_failed)
        throw RpcError(
            RpcError::Kind::FrameTooLarge,
            QStringLiteral("A transmissão foi recusada depois de um quadro grande demais."));
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        if (m_headerFill < 4) {
            const qsizetype n = std::min<qsizetype>(4 - m_headerFill, left);
            std::copy_n(data, n, m_header + m_headerFill);
            m_headerFill += int(n);
            data += n;
            left -= n;
            if (m_headerFill < 4)
                break;
            m_expected = (qint64(m_header[0]) << 24) | (qint64(m_header[1]) << 16) |
                         (qint64(m_header[2]) << 8) | qint64(m_header[3]);
            if (m_expected > m_maxFrameSize) {
                m_failed = true;
                throw RpcError(RpcError::Kind::FrameTooLarge,
                               QStringLiteral("Um quadro de %1 bytes excede o limite de %2 bytes.")
                                   .arg(m_expected)
                                   .arg(m_maxFrameSize));
            }
            m_body = QByteArray();
            m_body.reserve(std::min(m_expected, kInitialReserve));
        }
        const qsizetype n = std::min<qsizetype>(m_expected - m_body.size(), left);
        if (m_body.size() + n > m_body.capacity()) {
            // The body's room, in one piece, advised before what has come is copied into it.
            QByteArray room;
            room.reserve(m_expected);
            adviseHugePages(room.data(), room.capacity());
            room.append(m_body);
            m_body = std::move(room);
        }
        m_body.append(data, n);
        data += n;
        left -= n;
        if (m_body.size() == m_expected) {
            m_frames.enqueue(std::move(m_body));
            m_body = QByteArray();
            m_headerFill = 0;
        }
    }
}

QByteArray FrameReader::takeFrame()
{
    return m_frames.isEmpty() ? QByteArray() : m_frames.dequeue();
}

void FrameReader::reset()
{
    m_headerFill = 0;
    m_expected = 0;
    m_body = QByteArray();
    m_frames.clear();
    m_failed = false;
}

QByteArray FrameReader::prefix(qint64 bodySize)
{
    Q_ASSERT(bodySize >= 0 && bodySize <= kLargestFrameSize);
    const quint32 n = quint32(bodySize);
    const char bytes[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(bytes, 4);
}

} // namespace fis

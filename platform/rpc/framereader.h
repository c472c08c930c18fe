#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QQueue>

namespace fis {

// Default limit of one frame: a page of 50,000 lines of 4,000 characters is 200 MB of ASCII and
// up to twice that when every character needs two bytes in UTF-8, plus the fields beside each
// line. The limit only caps what a peer may make us buffer; nothing is allocated up front.
inline constexpr qint64 kDefaultMaxFrameSize = qint64(512) * 1024 * 1024;

// Default limit of a request to the server: the largest real one, the marked list of an export,
// takes at most 86 bytes a row (its three texts at full width), 22 MB for 250,000 invoices.
inline constexpr qint64 kDefaultMaxRequestSize = qint64(64) * 1024 * 1024;

// The length prefix is a 32-bit count, so no frame can exceed this whatever the configuration.
inline constexpr qint64 kLargestFrameSize = qint64(0xFFFFFFFF);

// Turns a byte stream into frames: a 4-byte big-endian length, then that many bytes of CBOR.
// Bytes may arrive in any pieces: a frame split over many reads or several frames in one read.
class FrameReader
{
public:
    explicit FrameReader(qint64 maxFrameSize = kDefaultMaxFrameSize);

    // Sizes over kLargestFrameSize are clamped to it.
    void setMaxFrameSize(qint64 bytes);
    qint64 maxFrameSize() const { return m_maxFrameSize; }

    // Takes in received bytes; complete frames queue up for takeFrame(). Throws
    // RpcError(FrameTooLarge) as soon as a length prefix declares more than the limit, before
    // anything is allocated for it; the reader then refuses all further input the same way.
    void feed(QByteArrayView bytes);

    bool hasFrame() const { return !m_frames.isEmpty(); }
    // The next complete frame without its prefix; an empty array when there is none.
    QByteArray takeFrame();
    // True while part of a frame (prefix or body) has arrived but not all of it.
    bool isMidFrame() const { return m_headerFill > 0; }
    // Bytes of the frame in progress received so far (its prefix included).
    qint64 partialBytes() const { return m_headerFill + m_body.size(); }
    void reset();

    // The 4-byte prefix for a body of the given size (at most kLargestFrameSize).
    static QByteArray prefix(qint64 bodySize);

private:
    qint64 m_maxFrameSize;
    unsigned char m_header[4] = {};
    int m_headerFill = 0;
    qint64 m_expected = 0;
    QByteArray m_body;
    QQueue<QByteArray> m_frames;
    bool m_failed = false;
};

} // namespace fis

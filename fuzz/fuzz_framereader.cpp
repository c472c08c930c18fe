// The frame reader fed a peer's bytes in pieces of every size: it must take whole frames out in
// order, refuse a declared length over its limit, and never read or keep more than it was given.
#include "rpc/framereader.h"
#include "rpc/rpcerror.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the limit and the size of the pieces.
    const qint64 limit = qint64(data[0]) << 12;
    const size_t piece = size_t(data[1] % 64) + 1;
    data += 2;
    size -= 2;
    fis::FrameReader reader(limit);
    qint64 framed = 0;
    bool refused = false;
    for (size_t at = 0; at < size; at += piece) {
        try {
            reader.feed(QByteArrayView(reinterpret_cast<const char *>(data + at),
                                       qsizetype(std::min(piece, size - at))));
        } catch (const fis::RpcError &e) {
            if (e.kind() != fis::RpcError::Kind::FrameTooLarge)
                std::abort();
            refused = true;
            break;
        }
        while (reader.hasFrame()) {
            const QByteArray frame = reader.takeFrame();
            if (frame.size() > limit)
                std::abort();
            framed += 4 + frame.size();
        }
    }
    if (framed > qint64(size))
        std::abort();
    if (!refused && framed + reader.partialBytes() != qint64(size))
        std::abort();
    return 0;
}

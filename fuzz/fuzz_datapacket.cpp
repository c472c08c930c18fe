// A data packet from arbitrary bytes: the decoders either give a table or throw, the packed and
// the plain decoder agree, and a table that was read writes back to a packet that reads the same.
#include "dataset/datapacket.h"

#include "base/error.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    fis::DataPacket packet;
    try {
        packet = fis::decodePacket(bytes);
    } catch (const fis::Error &) {
        // The packed decoder must refuse it too.
        try {
            fis::decodePacketPacked(bytes);
        } catch (const fis::Error &) {
            return 0;
        }
        std::abort();
    }
    const fis::PackedPacket packed = fis::decodePacketPacked(bytes);
    if (packed.rows.size() != packet.rows.size())
        std::abort();
    for (size_t r = 0; r < packet.rows.size(); ++r)
        if (fis::unpackRow(packed.rows[r], packet.fields) != packet.rows[r])
            std::abort();
    const fis::DataPacket again = fis::decodePacket(fis::encodePacket(packet.fields, packet.rows));
    if (again.rows != packet.rows || again.fields.size() != packet.fields.size())
        std::abort();
    return 0;
}

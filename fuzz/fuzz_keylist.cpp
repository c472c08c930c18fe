// A key list from arbitrary text: the parser either gives keys or throws KeyListError, and the
// keys it gives format back to a text that parses to the same keys.
#include "keylist/keylist.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const fis::KeyListBlanks blanks :
         {fis::KeyListBlanks::Rejected, fis::KeyListBlanks::Allowed}) {
        QStringList keys;
        try {
            keys = fis::parseKeyList(text, blanks);
        } catch (const fis::KeyListError &) {
            continue;
        }
        if (fis::parseKeyList(fis::formatKeyList(keys)) != keys)
            std::abort();
        if (blanks == fis::KeyListBlanks::Rejected && fis::formatKeyList(keys) != text)
            std::abort();
    }
    return 0;
}

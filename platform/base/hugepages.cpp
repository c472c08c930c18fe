#include "base/hugepages.h"

#include <sys/mman.h>

namespace fis {

void adviseHugePages(void *data, qsizetype bytes)
{
    constexpr quintptr kHuge = quintptr(2) << 20;
    if (!data || bytes < qsizetype(2 * kHuge))
        return;
    // Only the whole huge pages inside the block: the stretches around it may belong to others.
    const quintptr begin = (quintptr(data) + kHuge - 1) & ~(kHuge - 1);
    const quintptr end = (quintptr(data) + quintptr(bytes)) & ~(kHuge - 1);
    // A kernel without them refuses; the block is then faulted in as before.
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace fis

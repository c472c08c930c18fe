#include "rpc/memorypolicy.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace fis {

void reuseLargeBlocks()
{
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
    // A fixed threshold (glibc's own moves with the blocks freed): blocks up to 64 MB come from
    // the heap, which keeps up to 256 MB free at its top instead of giving it back at once.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

} // namespace fis

#include "rpc/memorypolicy.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace fis {

void useSystemMemoryForLargeBlocks()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}

} // namespace fis

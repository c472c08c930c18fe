#pragma once

#include <QtGlobal>

namespace fis {

// Blocks of tens of MB (a page of file lines, an invoice list, the frame that brings either)
// arrive in memory the heap has not used yet, whose every 4 KB the kernel faults in on first
// touch: 6,500 faults for a page of 200,000 lines, which took this kind of machine 0.06 s, more
// than reading the lines. Asked before the block is first written, the kernel fills its whole
// 2 MB stretches at once instead, where it offers transparent huge pages on request (the
// Debian default); elsewhere this does nothing. Blocks under 4 MB are left alone.
void adviseHugePages(void *data, qsizetype bytes);

} // namespace fis

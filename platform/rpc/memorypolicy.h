#pragma once

namespace fis {

// Answers and calls of tens of MB (a page of file lines, an invoice list) come and go one after
// another. Given back to the system when freed, each next one arrives in fresh memory whose
// every 4 KB the kernel must fault in and zero again, which costs more than decoding the page.
// Kept in the heap, blocks of the same size take the same memory page after page, so the peak
// stays where the first page put it. The price: up to a few pages' worth stays resident after
// an export. Programs that talk over the wire protocol call this once at start; elsewhere it
// does nothing.
void reuseLargeBlocks();

} // namespace fis

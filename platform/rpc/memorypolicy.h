#pragma once

namespace fis {

// Answers of several megabytes (a page of file lines, its decoded rows) come and go one after
// another. glibc raises its threshold for taking such blocks straight from the system after the
// first one is freed, so later ones land in the heap, which then keeps the largest mix of them
// and the process's peak drifts upward page by page. A fixed threshold of 1 MB gives every
// large block back when it is freed. Programs that talk to the application server call this
// once at start; elsewhere it does nothing.
void useSystemMemoryForLargeBlocks();

} // namespace fis

// Per-thread free lists for the small blocks the text types allocate all the time:
// string records with their first buffer, and list items.  Reading one control file
// makes and drops dozens of them; glibc's own per-thread cache keeps only seven
// blocks per size, so bursts of that size fall through to the slower general heap.
// Each size class (multiples of 8 bytes up to 512) keeps up to 256 freed blocks.
// Under AddressSanitizer the pool is bypassed so use-after-free is still caught.
#ifndef QUILLBOX_TEXT_BLOCKPOOL_H
#define QUILLBOX_TEXT_BLOCKPOOL_H

#include <cstddef>

namespace quillbox_text {

void* PoolAlloc(std::size_t size);
// `size` must be the size the block was allocated with.
void PoolFree(void* block, std::size_t size) noexcept;

}  // namespace quillbox_text

#endif

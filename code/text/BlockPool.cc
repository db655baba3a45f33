// Per-thread small-block free lists; see BlockPool.h.
#include "BlockPool.h"

#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define QB_POOL_DISABLED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_POOL_DISABLED 1
#endif
#endif

namespace quillbox_text {
namespace {

constexpr std::size_t kGrain = 8;
constexpr std::size_t kMaxSize = 512;
constexpr int kClasses = kMaxSize / kGrain;
constexpr int kDepth = 256;

// Plain thread-local arrays (no constructor or destructor) so every access is a
// direct thread-pointer load.  A freed block holds the link to the next one.  Blocks
// still listed when a thread ends stay allocated; the server's modules are
// single-threaded, so this is at most one pool for the life of the process.
thread_local void* heads[kClasses];
thread_local int counts[kClasses];

// Size class of a block, or -1 when the pool does not keep blocks of that size.
int ClassOf(std::size_t size) {
#ifdef QB_POOL_DISABLED
    (void)size;
    return -1;
#else
    if (size == 0 || size > kMaxSize) return -1;
    return static_cast<int>((size - 1) / kGrain);
#endif
}

}  // namespace

void* PoolAlloc(std::size_t size) {
    int c = ClassOf(size);
    if (c < 0) return ::operator new(size);
    if (void* block = heads[c]) {
        heads[c] = *static_cast<void**>(block);
        --counts[c];
        return block;
    }
    // Allocate the class's full size so any block of the class can serve any request.
    return ::operator new((c + 1) * kGrain);
}

void PoolFree(void* block, std::size_t size) noexcept {
    int c = ClassOf(size);
    if (c >= 0 && counts[c] < kDepth) {
        *static_cast<void**>(block) = heads[c];
        heads[c] = block;
        ++counts[c];
        return;
    }
    ::operator delete(block);
}

}  // namespace quillbox_text

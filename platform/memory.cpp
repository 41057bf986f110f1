// Aligned blocks: the C library's aligned allocation, with a large-page hint on Linux.
#include "platform/memory.h"

#include <cstdlib>

#ifdef _WIN32
#include <malloc.h>
#else
#include <sys/mman.h>
#endif

void* plat_alloc_slab(size_t size) {
#ifdef _WIN32
    return _aligned_malloc(size, size);
#else
    void* mem = std::aligned_alloc(size, size);
#ifdef MADV_HUGEPAGE
    if (mem) madvise(mem, size, MADV_HUGEPAGE);  // a hint; plain pages work as well
#endif
    return mem;
#endif
}

void plat_free_slab(void* p) {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

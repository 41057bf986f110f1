// Large aligned blocks for result storage.
#pragma once

#include <cstddef>

// size bytes aligned to size (a power of two), with the system asked for large pages where it
// takes such a hint; null when there is no memory. Free with plat_free_slab.
void* plat_alloc_slab(size_t size);
void plat_free_slab(void* p);

// Slabs for the block pool: blocks of SLAB_BYTES aligned to SLAB_BYTES, straight from the system
// (one source file per platform).
#pragma once

#include <cstddef>

enum : size_t { SLAB_BYTES = 64 * 1024 };

// A fresh slab, or null when the system has none to give. Its bytes are not touched.
void *slab_memory_acquire();

// Gives back a slab that slab_memory_acquire returned.
void slab_memory_release(void *slab);

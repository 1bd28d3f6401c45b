// Slabs for the block pool: blocks of SLAB_BYTES aligned to SLAB_BYTES, straight from the system
// (one source file per platform).
#pragma once

#include <cstddef>

// 16 KiB: a document uses a few dozen size classes, and each holds a partly used slab, so larger
// slabs would add their unused tails to a small document's heap; smaller ones would spend more
// on their 128-byte headers and on taking slabs from the system.
enum : size_t { SLAB_BYTES = 16 * 1024 };

// A fresh slab, or null when the system has none to give. Its bytes are not touched.
void *slab_memory_acquire();

// Gives back a slab that slab_memory_acquire returned.
void slab_memory_release(void *slab);

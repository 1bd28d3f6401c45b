// Slabs for the block pool: SLAB_BYTES aligned to SLAB_BYTES, carved from regions that the
// system gives in large pieces (system_pages.h).
//
// What always holds:
//   - a region is REGION_BYTES of address space aligned to its size; the place of its first slab
//     holds the region's record (one page of memory), the other places are slabs;
//   - a slab's place is out (the pool's), empty and committed, or decommitted (no memory);
//   - at most KEPT_EMPTY_SLABS places are empty and committed, in all regions together: the next
//     slab given back beyond that decommits them all;
//   - a region whose slabs are all back is given back to the system whole, at once.
// So no alignment gap ever holds memory, and what the system holds for the pool beyond the
// slabs out is one page per region and KEPT_EMPTY_SLABS slabs at most.
#pragma once

#include <cstddef>

// 16 KiB: a document uses a few dozen size classes, and each holds a partly used slab, so larger
// slabs would add their unused tails to a small document's heap; smaller ones would spend more
// on their 128-byte headers and on taking slabs from the system.
enum : size_t { SLAB_BYTES = 16 * 1024 };

// 4 MiB: one reservation (and one call) per 255 slabs, and few regions to search.
constexpr size_t REGION_BYTES = 4 * 1024 * 1024;

// Empty slabs kept committed for the next slab taken: a document's free gives back its slabs one
// after the other, and decommitting them in runs costs fewer calls than one by one.
constexpr unsigned KEPT_EMPTY_SLABS = 16;

// A slab, or null when the system has no memory to give. Its bytes are not touched.
void *slab_memory_acquire();

// Gives back a slab that slab_memory_acquire returned. Any thread may call it.
void slab_memory_release(void *slab);

// Memory the regions hold from the system now: slabs out, empty slabs still committed, and the
// regions' records.
size_t slab_memory_committed_bytes();

// Bytes of the slabs out, the pool's own.
size_t slab_memory_out_bytes();

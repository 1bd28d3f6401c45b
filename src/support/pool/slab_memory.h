// Slabs for the block pool: SLAB_BYTES aligned to SLAB_BYTES, carved from regions that the
// system gives in large pieces (system_pages.h).
//
// What always holds:
//   - a region is REGION_BYTES of address space aligned to its size; the place of its first slab
//     holds the region's record (one page of memory), the other places are slabs;
//   - a slab's place is out (the pool's), kept (empty, its memory still committed) or
//     decommitted (no memory);
//   - a slab given back for good is decommitted at once, or its region given back whole when no
//     other slab of it is out;
//   - a kept slab is taken again before any other; all kept slabs are decommitted when a slab is
//     kept after the first of them has waited KEPT_SLAB_MILLISECONDS (the clock is read once per
//     32 slabs kept), or when slab_memory_trim is called, and a region none of whose slabs is out
//     then goes back to the system whole.
// So no alignment gap ever holds memory, and once nothing is kept, what the system holds for the
// pool beyond its slabs out is one page per region that has a slab out.
#pragma once

#include <cstddef>

// 16 KiB: a document uses a few dozen size classes, and each holds a partly used slab, so larger
// slabs would add their unused tails to a small document's heap; smaller ones would spend more
// on their 128-byte headers and on taking slabs from the system.
enum : size_t { SLAB_BYTES = 16 * 1024 };

// 4 MiB: one reservation (and one call) per 255 slabs, and few regions to search.
constexpr size_t REGION_BYTES = 4 * 1024 * 1024;

// A thread that frees a document and parses the next takes the same slabs again: giving them
// back and faulting their pages in anew made a canada parse and free twice as slow.
constexpr unsigned KEPT_SLAB_MILLISECONDS = 1000;

// A slab, or null when the system has no memory to give. Its bytes are not touched.
void *slab_memory_acquire();

// What happens to a slab given back.
enum SlabReturn {
    SLAB_KEPT,     // its thread goes on: kept for a while for the next slab taken
    SLAB_FOR_GOOD, // its heap's thread ended: its memory goes back now
};

// Gives back a slab that slab_memory_acquire returned. Any thread may call it.
void slab_memory_release(void *slab, SlabReturn how);

// Gives back the memory of every kept slab now, and every region none of whose slabs is out.
void slab_memory_trim();

// Sets how long the first kept slab waits before all kept slabs go back, in milliseconds
// (KEPT_SLAB_MILLISECONDS until changed), and returns the wait it replaces. For tests, which
// cannot wait a second each time.
unsigned slab_memory_set_kept_wait(unsigned milliseconds);

// Memory the regions hold from the system now: slabs out, empty slabs still committed, and the
// regions' records.
size_t slab_memory_committed_bytes();

// Bytes of the slabs out, the pool's own.
size_t slab_memory_out_bytes();

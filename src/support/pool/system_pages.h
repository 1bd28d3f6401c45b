// Address space and memory from the system, for the block pool's slab regions (one source file
// per platform). Only slab_memory.cpp calls these.
#pragma once

#include <cstddef>

// Reserves bytes of address space aligned to bytes (a power of two, a multiple of the page
// size); none of it is memory yet. Null when the system refuses.
void *pages_reserve(size_t bytes);

// Gives back a whole reservation that pages_reserve(bytes) returned, memory and address space.
void pages_release(void *start, size_t bytes);

// Makes pages of a reservation usable, zero-filled where never used or decommitted. Their memory
// is taken from the system when first touched. false when the system refuses.
bool pages_commit(void *start, size_t bytes);

// Gives the memory of committed pages back to the system; the address space stays reserved, and
// the pages need pages_commit again before use.
void pages_decommit(void *start, size_t bytes);

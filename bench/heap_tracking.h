// Peak heap measurement shared by every benchmark binary.
//
// The binary that links heap_tracking.cpp replaces malloc, calloc, realloc, free,
// posix_memalign, aligned_alloc and memalign with thin wrappers around glibc's own allocator.
// Every library in the process (shared peers, the C++ runtime's operator new, our own library)
// then allocates through them. While tracking is on, each wrapper adds or subtracts the block's
// malloc_usable_size from a running total of live bytes and keeps its highest value, so the
// figure counts what the allocator really handed out, rounding included (not chunk headers).
#pragma once

#include <cstddef>

// Starts tracking with the current live bytes counted as zero.
void heap_tracking_begin();

// Stops tracking and returns the highest number of live bytes above the start.
size_t heap_tracking_end();

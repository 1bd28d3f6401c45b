// The usable size of a heap block, from the C library (one source file per platform).
#pragma once

#include <cstddef>

// Bytes usable in a block that malloc, calloc or realloc returned (at least its requested size).
size_t heap_block_size(void *block);

#include "heap_size.h"

#include <malloc.h>

size_t heap_block_size(void *block) {
    return _msize(block);
}

#include "slab_memory.h"

#include <cstdlib>

// Through the C library, so that anything watching malloc (the benchmarks' heap tracking) sees
// the slabs too.
void *slab_memory_acquire() {
    return aligned_alloc(SLAB_BYTES, SLAB_BYTES);
}

void slab_memory_release(void *slab) {
    free(slab);
}

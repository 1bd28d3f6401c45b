#include "heap_tracking.h"

#include <cerrno>
#include <cstddef>
#include <malloc.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace {

// Plain globals: every benchmark runs on one thread.
bool tracking = false;
long long live_bytes = 0;
long long peak_bytes = 0;

void note_allocated(void *block) {
    if (!tracking || !block) return;
    live_bytes += (long long)malloc_usable_size(block);
    if (live_bytes > peak_bytes) peak_bytes = live_bytes;
}

void note_released(void *block) {
    if (tracking && block) live_bytes -= (long long)malloc_usable_size(block);
}

} // namespace

void heap_tracking_begin() {
    live_bytes = 0;
    peak_bytes = 0;
    tracking = true;
}

size_t heap_tracking_end() {
    tracking = false;
    return size_t(peak_bytes);
}

extern "C" {

void *malloc(size_t size) {
    void *block = __libc_malloc(size);
    note_allocated(block);
    return block;
}

void *calloc(size_t count, size_t size) {
    void *block = __libc_calloc(count, size);
    note_allocated(block);
    return block;
}

void *realloc(void *block, size_t size) {
    note_released(block);
    void *moved = __libc_realloc(block, size);
    if (moved) {
        note_allocated(moved);
    } else if (size != 0) {
        note_allocated(block); // the old block stays
    }
    return moved;
}

void free(void *block) {
    note_released(block);
    __libc_free(block);
}

void *memalign(size_t alignment, size_t size) {
    void *block = __libc_memalign(alignment, size);
    note_allocated(block);
    return block;
}

void *aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void **output, size_t alignment, size_t size) {
    void *block = memalign(alignment, size);
    if (!block) return ENOMEM;
    *output = block;
    return 0;
}

} // extern "C"

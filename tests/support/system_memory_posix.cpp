#include "system_memory.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

size_t system_memory_held(const void *start, size_t bytes) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    auto *address = static_cast<char *>(const_cast<void *>(start));
    size_t held = 0;
    // Page by page, so that an unmapped page (ENOMEM) counts as holding nothing.
    for (size_t offset = 0; offset < bytes; offset += page) {
        unsigned char resident = 0;
        if (mincore(address + offset, page, &resident) == 0 && (resident & 1)) held += page;
    }
    return held;
}

#include "system_memory.h"

#include <windows.h>

size_t system_memory_held(const void *start, size_t bytes) {
    auto *address = static_cast<const char *>(start);
    const char *end = address + bytes;
    size_t held = 0;
    while (address < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(address, &info, sizeof info) == 0) break;
        const char *region_end = static_cast<const char *>(info.BaseAddress) + info.RegionSize;
        if (region_end > end) region_end = end;
        if (info.State == MEM_COMMIT) held += size_t(region_end - address);
        address = region_end;
    }
    return held;
}

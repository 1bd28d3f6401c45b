// The cycle lock on Windows.
#include "platform.h"
#include "platform_win32_internal.h"

#include "support/memory.h"
#include "wide_text_win32.h"

#include <windows.h>

#include <errno.h>
#include <wchar.h>

namespace {

// FNV-1a: a stable 64-bit name for a path, the same in every process.
unsigned long long name_hash(const wchar_t *text, size_t length) {
    unsigned long long hash = 14695981039346656037ull;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned long long>(text[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

int platform_lock_cycle(const char *configuration_path, PlatformCycleLock *lock) {
    lock->handle = 0;
    DWORD length = 0;
    wchar_t *full_path = full_wide_path(configuration_path, &length);
    if (!full_path) return 0;
    CharUpperBuffW(full_path, length);
    // The name must not hold a backslash after its namespace, so the path goes in as a hash;
    // Global, so that a scheduled run and one in a user's session see the same mutex.
    wchar_t name[64];
    swprintf(name, 64, L"Global\\update-hub-cycle-%016llx", name_hash(full_path, length));
    mem_free(full_path);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    // Denied: it exists, made by another account, so a cycle of that account holds it.
    if (!mutex) return GetLastError() == ERROR_ACCESS_DENIED ? EBUSY : 0;
    DWORD waited = WaitForSingleObject(mutex, 0);
    // Abandoned: its last holder ended without releasing it; it is this process's now.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return EBUSY;
    }
    lock->handle = reinterpret_cast<long long>(mutex);
    return 0;
}

void platform_unlock_cycle(PlatformCycleLock *lock) {
    if (!lock->handle) return;
    HANDLE mutex = reinterpret_cast<HANDLE>(lock->handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    lock->handle = 0;
}

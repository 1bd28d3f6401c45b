// What the Windows platform files share among themselves.
#pragma once

#include <windows.h>

// The errno value closest to a Win32 error.
int errno_of(DWORD error);

// The full path of a UTF-8 name, in UTF-16, in a block to release with mem_free; null when it
// cannot be resolved. *length receives its length in UTF-16 units.
wchar_t *full_wide_path(const char *path, DWORD *length);

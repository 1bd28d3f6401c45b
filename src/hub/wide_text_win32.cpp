#include "wide_text_win32.h"

#include "support/memory.h"

#include <errno.h>

wchar_t *wide_from_utf8(const char *text, int length, int *units) {
    int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
    if (needed == 0 && length != 0) {
        errno = EILSEQ;
        return nullptr;
    }
    wchar_t *wide = static_cast<wchar_t *>(mem_calloc(size_t(needed) + 1, sizeof(wchar_t)));
    if (!wide) {
        errno = ENOMEM;
        return nullptr;
    }
    if (needed > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, wide, needed);
    // A length of -1 converts the NUL too, which the count then holds.
    int count = length < 0 && needed > 0 ? needed - 1 : needed;
    if (units) *units = count;
    return wide;
}

char *utf8_from_wide(const wchar_t *text, int units, int *bytes) {
    int needed = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    char *utf8 = static_cast<char *>(mem_calloc(size_t(needed) + 1, 1));
    if (!utf8) {
        errno = ENOMEM;
        return nullptr;
    }
    if (needed > 0) WideCharToMultiByte(CP_UTF8, 0, text, units, utf8, needed, nullptr, nullptr);
    if (bytes) *bytes = units < 0 && needed > 0 ? needed - 1 : needed;
    return utf8;
}

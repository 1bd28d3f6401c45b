// Files and paths on Windows: the wide C runtime and Win32 calls, with UTF-8 names converted
// here, so that any file or folder name in any script works.
#include "platform.h"
#include "platform_win32_internal.h"

#include "support/memory.h"
#include "wide_text_win32.h"

#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <wchar.h>

const char platform_separator = '\\';
const char platform_separators[] = "\\/";

int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EINVAL;
    }
}

wchar_t *full_wide_path(const char *path, DWORD *length) {
    wchar_t *wide = wide_from_utf8(path);
    if (!wide) return nullptr;
    DWORD needed = GetFullPathNameW(wide, 0, nullptr, nullptr);
    wchar_t *full =
        needed ? static_cast<wchar_t *>(mem_calloc(size_t(needed) + 1, sizeof(wchar_t))) : nullptr;
    *length = full ? GetFullPathNameW(wide, needed + 1, full, nullptr) : 0;
    mem_free(wide);
    if (full && (*length == 0 || *length > needed)) {
        mem_free(full);
        full = nullptr;
    }
    return full;
}

unsigned long platform_full_path(const char *path, unsigned long size, char *buffer,
                                 char **file_part) {
    *file_part = nullptr;
    DWORD units = 0;
    wchar_t *full = full_wide_path(path, &units);
    if (!full) return 0;
    int bytes = 0;
    char *utf8 = utf8_from_wide(full, int(units), &bytes);
    mem_free(full);
    if (!utf8) return 0;
    unsigned long result = (unsigned long)bytes;
    if (result + 1 > size) {
        result += 1;
    } else {
        memcpy(buffer, utf8, size_t(bytes) + 1);
        char *last = strrchr(buffer, '\\');
        if (last && last[1]) *file_part = last + 1;
    }
    mem_free(utf8);
    return result;
}

size_t platform_path_length(const char *path, size_t bytes) {
    size_t units = 0;
    for (size_t i = 0; i < bytes; ++i) {
        unsigned char byte = static_cast<unsigned char>(path[i]);
        if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1; // four bytes: a surrogate pair
    }
    return units;
}

int platform_own_file(TextBuffer *path) {
    // A path may be as long as the system allows; grow until it fits.
    for (DWORD size = MAX_PATH;; size *= 2) {
        wchar_t *wide = static_cast<wchar_t *>(mem_calloc(size, sizeof(wchar_t)));
        if (!wide) return ENOMEM;
        DWORD units = GetModuleFileNameW(nullptr, wide, size);
        int error = units == 0 ? errno_of(GetLastError()) : 0;
        if (error == 0 && units >= size) {
            mem_free(wide);
            if (size >= 32768) return ENAMETOOLONG;
            continue;
        }
        char *utf8 = error == 0 ? utf8_from_wide(wide, int(units)) : nullptr;
        mem_free(wide);
        if (error != 0) return error;
        if (!utf8) return ENOMEM;
        path->length = 0;
        error = text_buffer_append(path, utf8, uint32_t(strlen(utf8))) == 0 ? 0 : ENOMEM;
        mem_free(utf8);
        return error;
    }
}

namespace {

// The volume and the file index of the file a UTF-8 name names, opened without access; the
// link itself when follow is false.
bool file_identity(const char *name, bool follow, BY_HANDLE_FILE_INFORMATION *identity) {
    wchar_t *wide = wide_from_utf8(name);
    if (!wide) return false;
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE file = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, flags, nullptr);
    mem_free(wide);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool known = GetFileInformationByHandle(file, identity) != 0;
    CloseHandle(file);
    return known;
}

} // namespace

bool platform_names_same_file(const char *path, const char *own_file) {
    BY_HANDLE_FILE_INFORMATION named;
    BY_HANDLE_FILE_INFORMATION own;
    return file_identity(path, true, &named) && file_identity(own_file, true, &own) &&
           named.dwVolumeSerialNumber == own.dwVolumeSerialNumber &&
           named.nFileIndexHigh == own.nFileIndexHigh && named.nFileIndexLow == own.nFileIndexLow;
}

int platform_open_regular_file(const char *name, FILE **file) {
    *file = platform_fopen(name, "rb");
    if (!*file) return errno;
    // A device (CON, COM1) or a named pipe opens at once but may make a read wait for ever.
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(*file)));
    if (GetFileType(handle) == FILE_TYPE_DISK) return 0;
    fclose(*file);
    *file = nullptr;
    return ENODEV;
}

FILE *platform_fopen(const char *name, const char *mode) {
    wchar_t *wide_name = wide_from_utf8(name);
    wchar_t *wide_mode = wide_from_utf8(mode);
    FILE *file = wide_name && wide_mode ? _wfopen(wide_name, wide_mode) : nullptr;
    int error = errno;
    mem_free(wide_name);
    mem_free(wide_mode);
    errno = error;
    return file;
}

int platform_unlink(const char *name) {
    wchar_t *wide_name = wide_from_utf8(name);
    int result = wide_name ? _wunlink(wide_name) : -1;
    int error = errno;
    mem_free(wide_name);
    errno = error;
    return result;
}

namespace {

// A running program cannot be deleted, but it can be renamed: it is put aside under its name,
// ".old-", the process id and a count, and removed by a later run once it has ended.
const wchar_t PUT_ASIDE_MARK[] = L".old-";

bool put_aside(const wchar_t *full) {
    static unsigned count = 0;
    size_t length = wcslen(full) + 40;
    wchar_t *aside = static_cast<wchar_t *>(mem_calloc(length, sizeof(wchar_t)));
    if (!aside) return false;
    swprintf(aside, length, L"%ls%ls%lu-%u", full, PUT_ASIDE_MARK, GetCurrentProcessId(), count++);
    bool moved = MoveFileExW(full, aside, 0) != 0;
    mem_free(aside);
    return moved;
}

// Removes what earlier runs put aside; those still running stay until a later run.
void remove_put_aside(const wchar_t *full) {
    size_t length = wcslen(full);
    const wchar_t *last = wcsrchr(full, L'\\');
    size_t directory = last ? size_t(last + 1 - full) : 0;
    wchar_t *name = static_cast<wchar_t *>(mem_calloc(length + MAX_PATH + 8, sizeof(wchar_t)));
    if (!name) return;
    wcscpy(name, full);
    wcscat(name, PUT_ASIDE_MARK);
    wcscat(name, L"*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(name, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            wcscpy(name + directory, found.cFileName);
            DeleteFileW(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    mem_free(name);
}

// Deletes the file, or puts a running program aside. A directory stays and fails.
bool remove_old(const wchar_t *full) {
    if (DeleteFileW(full)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true;
    DWORD attributes = GetFileAttributesW(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !put_aside(full)) {
        errno = errno_of(error);
        return false;
    }
    return true;
}

} // namespace

FILE *platform_create_fresh(const char *name, FILE *) {
    DWORD length = 0;
    wchar_t *full = full_wide_path(name, &length);
    if (!full) {
        errno = ENOMEM;
        return nullptr;
    }
    remove_put_aside(full);
    FILE *stream = nullptr;
    if (remove_old(full)) {
        // Exclusive: fails on any name that is there again, a link included.
        int file = _wopen(full, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        stream = file >= 0 ? _fdopen(file, "wb") : nullptr;
        if (file >= 0 && !stream) _close(file);
    }
    int error = errno;
    mem_free(full);
    errno = error;
    return stream;
}

bool platform_same_file(const char *copy, const char *original) {
    DWORD copy_length = 0;
    DWORD original_length = 0;
    wchar_t *copy_path = full_wide_path(copy, &copy_length);
    wchar_t *original_path = full_wide_path(original, &original_length);
    bool same = copy_path && original_path &&
                CompareStringOrdinal(copy_path, int(copy_length), original_path,
                                     int(original_length), TRUE) == CSTR_EQUAL;
    mem_free(copy_path);
    mem_free(original_path);
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    if (!same && file_identity(copy, false, &a) && file_identity(original, true, &b))
        same = a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    return same;
}

int platform_decode_legacy_text(TextBuffer *text) {
    if (text->length == 0) return 0;
    int units = MultiByteToWideChar(CP_ACP, 0, text->data, int(text->length), nullptr, 0);
    wchar_t *wide = static_cast<wchar_t *>(mem_calloc(size_t(units) + 1, sizeof(wchar_t)));
    if (!wide) return ENOMEM;
    MultiByteToWideChar(CP_ACP, 0, text->data, int(text->length), wide, units);
    int bytes = 0;
    char *utf8 = utf8_from_wide(wide, units, &bytes);
    mem_free(wide);
    if (!utf8) return ENOMEM;
    text->length = 0;
    int status = text_buffer_append(text, utf8, uint32_t(bytes));
    mem_free(utf8);
    return status;
}

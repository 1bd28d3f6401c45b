// The report and the log file on Windows, with UTF-8 names converted here.
#include "platform.h"
#include "platform_win32_internal.h"

#include "support/memory.h"
#include "wide_text_win32.h"

#include <windows.h>

#include <errno.h>

namespace {

// How long a replacement waits for a reader that holds the old file without sharing its
// deletion: 40 tries, 50 ms apart.
const int REPLACE_TRIES = 40;
const DWORD REPLACE_PAUSE_MILLISECONDS = 50;

int error_number(DWORD error) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    default:
        return errno_of(error);
    }
}

int write_all(HANDLE file, const char *bytes, size_t length) {
    while (length > 0) {
        DWORD chunk = length > 0x40000000 ? 0x40000000 : DWORD(length);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr)) return error_number(GetLastError());
        if (written == 0) return EIO;
        bytes += written;
        length -= written;
    }
    return 0;
}

} // namespace

int platform_write_new_file(const char *name, const char *bytes, size_t length) {
    wchar_t *wide = wide_from_utf8(name);
    if (!wide) return ENOMEM;
    HANDLE file =
        CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    mem_free(wide);
    if (file == INVALID_HANDLE_VALUE) return error_number(GetLastError());
    int result = write_all(file, bytes, length);
    if (result == 0 && !FlushFileBuffers(file)) result = error_number(GetLastError());
    CloseHandle(file);
    return result;
}

int platform_replace_file(const char *from, const char *to) {
    wchar_t *wide_from = wide_from_utf8(from);
    wchar_t *wide_to = wide_from ? wide_from_utf8(to) : nullptr;
    int result = ENOMEM;
    if (wide_to) {
        for (int attempt = 1;; ++attempt) {
            if (MoveFileExW(wide_from, wide_to,
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                result = 0;
                break;
            }
            DWORD error = GetLastError();
            result = error_number(error);
            bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                        error == ERROR_LOCK_VIOLATION;
            if (!held || attempt == REPLACE_TRIES) break;
            Sleep(REPLACE_PAUSE_MILLISECONDS);
        }
    }
    mem_free(wide_from);
    mem_free(wide_to);
    return result;
}

int platform_file_size(const char *name, unsigned long long *size) {
    wchar_t *wide = wide_from_utf8(name);
    if (!wide) return ENOMEM;
    WIN32_FILE_ATTRIBUTE_DATA data;
    BOOL found = GetFileAttributesExW(wide, GetFileExInfoStandard, &data);
    DWORD error = found ? 0 : GetLastError();
    mem_free(wide);
    if (!found) return error_number(error);
    *size = ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return 0;
}

unsigned long platform_process_id() {
    return GetCurrentProcessId();
}

int platform_open_log_file(const char *name, PlatformLogFile *file) {
    file->handle = -1;
    wchar_t *wide = wide_from_utf8(name);
    if (!wide) return ENOMEM;
    // Append access only: every write lands at the end, also when another process appends.
    HANDLE handle =
        CreateFileW(wide, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    mem_free(wide);
    if (handle == INVALID_HANDLE_VALUE) return error_number(error);
    file->handle = (long long)(intptr_t)handle;
    return 0;
}

void platform_write_log_file(PlatformLogFile *file, const char *bytes, size_t length) {
    if (file->handle != -1) write_all(HANDLE(intptr_t(file->handle)), bytes, length);
}

void platform_close_log_file(PlatformLogFile *file) {
    if (file->handle != -1) CloseHandle(HANDLE(intptr_t(file->handle)));
    file->handle = -1;
}

// The platform layer on Windows: the real Win32 and C runtime calls.
#include "platform.h"

#include <windows.h>

#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char platform_separator = '\\';

namespace {

const DWORD RELAUNCH_CREATION_FLAGS = CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS;

// The longest command line cmd.exe accepts; it answers a longer one with its own error and exit
// status 1, which would read as "NO UPDATE".
const size_t INTERPRETER_LINE_LIMIT = 8191;

// Room for any path the wide calls take, in the ANSI code page.
const size_t MAX_PATH_LENGTH = 32768;

// FNV-1a: a stable 64-bit name for a path, the same in every process.
unsigned long long name_hash(const char *text, size_t length) {
    unsigned long long hash = 14695981039346656037ull;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(text[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

unsigned long platform_full_path(const char *path, unsigned long size, char *buffer,
                                 char **file_part) {
    *file_part = nullptr;
    return GetFullPathNameA(path, DWORD(size), buffer, file_part);
}

int platform_start_copy(char *command_line, const char *, const char *directory, int, char **) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, RELAUNCH_CREATION_FLAGS,
                        nullptr, directory, &startup, &process))
        return int(GetLastError());
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 0;
}

FILE *platform_fopen(const char *name, const char *mode) {
    return fopen(name, mode);
}

int platform_unlink(const char *name) {
    return _unlink(name);
}

void platform_copy_mode(const char *, const char *) {}

int platform_run_command(const char *wrapped_command, int *exit_status) {
    if (strlen(wrapped_command) > INTERPRETER_LINE_LIMIT) return E2BIG;
    *exit_status = system(wrapped_command);
    return 0;
}

bool platform_needs_quotes(unsigned char byte) {
    return byte == ' ' || byte == '\t' || strchr("&()[]{}^=;!'+,`~<>|", byte) != nullptr;
}

const char *platform_working_copy_name(const char *updater_name) {
    const char *file = updater_name;
    for (const char *p = updater_name; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') file = p + 1;
    const char *extension = strrchr(file, '.');
    if (!extension || _stricmp(extension, ".exe") == 0 || _stricmp(extension, ".com") == 0)
        return "ravcpy.exe";
    if (_stricmp(extension, ".cmd") == 0) return "ravcpy.cmd";
    if (_stricmp(extension, ".bat") == 0) return "ravcpy.bat";
    return nullptr;
}

int platform_lock_cycle(const char *configuration_path, PlatformCycleLock *lock) {
    lock->handle = 0;
    char full_path[MAX_PATH_LENGTH];
    DWORD length =
        GetFullPathNameA(configuration_path, DWORD(sizeof full_path), full_path, nullptr);
    if (length == 0 || length >= sizeof full_path) return 0;
    CharUpperBuffA(full_path, length);
    // The name must not hold a backslash after its namespace, so the path goes in as a hash;
    // Global, so that a scheduled run and one in a user's session see the same mutex.
    char name[64];
    snprintf(name, sizeof name, "Global\\update-hub-cycle-%016llx",
             static_cast<unsigned long long>(name_hash(full_path, length)));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
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

bool platform_carries_in_quotes(unsigned char byte) {
    return byte != '\0' && byte != '\r' && byte != '\n' && byte != '"' && byte != '%';
}

bool platform_doubles_backslashes(unsigned long, bool before_closing_quote) {
    return before_closing_quote;
}

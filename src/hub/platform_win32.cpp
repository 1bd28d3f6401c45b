// The platform layer on Windows: the real Win32 and C runtime calls, in their wide forms. The
// hub works on UTF-8 text; every name and command line is converted here, so that any file or
// folder name in any script works.
#include "platform.h"

#include "support/memory.h"
#include "wide_text_win32.h"

#include <windows.h>

#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

const char platform_separator = '\\';

namespace {

const DWORD RELAUNCH_CREATION_FLAGS =
    CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT;

// The longest command line cmd.exe accepts, in UTF-16 units; it answers a longer one with its
// own error and exit status 1, which would read as "NO UPDATE".
const size_t INTERPRETER_LINE_LIMIT = 8191;

// The exit status a command gets when it is ended for running past its timeout.
const DWORD TIMED_OUT_STATUS = ERROR_TIMEOUT;

// How long to wait for a job's processes to go once they were told to end.
const DWORD TERMINATION_WAIT = 10000;

// FNV-1a: a stable 64-bit name for a path, the same in every process.
unsigned long long name_hash(const wchar_t *text, size_t length) {
    unsigned long long hash = 14695981039346656037ull;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned long long>(text[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

// The full path of a UTF-8 name, in UTF-16, in a block to release with mem_free; null when it
// cannot be resolved.
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

// The line system() hands the interpreter: the interpreter named by COMSPEC, "/c", and the
// command, joined by blanks. Null (errno set) without memory.
wchar_t *interpreter_line(const wchar_t *interpreter, const wchar_t *command) {
    size_t length = wcslen(interpreter) + 4 + wcslen(command);
    wchar_t *line = static_cast<wchar_t *>(mem_calloc(length + 1, sizeof(wchar_t)));
    if (!line) {
        errno = ENOMEM;
        return nullptr;
    }
    wcscpy(line, interpreter);
    wcscat(line, L" /c ");
    wcscat(line, command);
    return line;
}

// Waits for the process in its job; past the timeout ends the whole job and records
// TIMED_OUT_STATUS. Returns the exit status.
int wait_within(HANDLE job, HANDLE process, DWORD timeout, bool *timed_out) {
    if (WaitForSingleObject(process, timeout) == WAIT_TIMEOUT) {
        *timed_out = true;
        TerminateJobObject(job, TIMED_OUT_STATUS);
        WaitForSingleObject(process, TERMINATION_WAIT);
        return int(TIMED_OUT_STATUS);
    }
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    return int(status);
}

// Runs the interpreter as system() does, but in a job of its own, so that a command still
// running at the timeout is ended with every process it started.
int run_in_job(const wchar_t *command, DWORD timeout, bool *timed_out) {
    const wchar_t *interpreter = _wgetenv(L"COMSPEC");
    if (!interpreter || !*interpreter) interpreter = L"cmd.exe";
    wchar_t *line = interpreter_line(interpreter, command);
    if (!line) return -1;
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    bool started = job && CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                         nullptr, nullptr, &startup, &process);
    int error = started ? 0 : errno_of(GetLastError());
    mem_free(line);
    // A command that could not be bounded does not run at all.
    if (started && !AssignProcessToJobObject(job, process.hProcess)) {
        error = errno_of(GetLastError());
        TerminateProcess(process.hProcess, TIMED_OUT_STATUS);
    }
    int status = -1;
    if (started && error == 0) {
        ResumeThread(process.hThread);
        status = wait_within(job, process.hProcess, timeout, timed_out);
    }
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (job) CloseHandle(job);
    if (status == -1) errno = error ? error : ENOMEM;
    return status;
}

} // namespace

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

int platform_start_copy(char *command_line, const char *, const char *directory, int, char **) {
    wchar_t *wide_line = wide_from_utf8(command_line);
    wchar_t *wide_directory = wide_from_utf8(directory);
    int error = 0;
    if (!wide_line || !wide_directory) {
        error = errno == EILSEQ ? ERROR_NO_UNICODE_TRANSLATION : ERROR_NOT_ENOUGH_MEMORY;
    } else {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, wide_line, nullptr, nullptr, FALSE, RELAUNCH_CREATION_FLAGS,
                           nullptr, wide_directory, &startup, &process)) {
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        } else {
            error = int(GetLastError());
        }
    }
    mem_free(wide_line);
    mem_free(wide_directory);
    return error;
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

void platform_copy_mode(const char *, const char *) {}

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

int platform_run_command(const char *wrapped_command, unsigned long timeout_milliseconds,
                         int *exit_status, bool *timed_out) {
    *timed_out = false;
    int units = 0;
    wchar_t *command = wide_from_utf8(wrapped_command, -1, &units);
    if (!command) return errno;
    if (size_t(units) > INTERPRETER_LINE_LIMIT) {
        mem_free(command);
        return E2BIG;
    }
    if (timeout_milliseconds == 0)
        *exit_status = _wsystem(command);
    else
        *exit_status = run_in_job(command, DWORD(timeout_milliseconds), timed_out);
    int error = errno;
    mem_free(command);
    errno = error;
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

bool platform_carries_in_quotes(unsigned char byte) {
    return byte != '\0' && byte != '\r' && byte != '\n' && byte != '"' && byte != '%';
}

bool platform_doubles_backslashes(unsigned long, bool before_closing_quote) {
    return before_closing_quote;
}

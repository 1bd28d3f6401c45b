// The platform layer on Windows: the real Win32 and C runtime calls.
#include "platform.h"

#include <windows.h>

#include <errno.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

const char platform_separator = '\\';

namespace {

const DWORD RELAUNCH_CREATION_FLAGS = CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS;

// The longest command line cmd.exe accepts; it answers a longer one with its own error and exit
// status 1, which would read as "NO UPDATE".
const size_t INTERPRETER_LINE_LIMIT = 8191;

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

bool platform_carries_in_quotes(unsigned char byte) {
    return byte != '\0' && byte != '\r' && byte != '\n' && byte != '"' && byte != '%';
}

bool platform_doubles_backslashes(unsigned long, bool before_closing_quote) {
    return before_closing_quote;
}

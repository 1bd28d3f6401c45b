// How cmd.exe and the C runtime read a command line: which bytes need quotes, which cannot be
// carried, and how backslashes are read.
#include "platform.h"

#include <string.h>

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

bool platform_carries_in_quotes(unsigned char byte) {
    return byte != '\0' && byte != '\r' && byte != '\n' && byte != '"' && byte != '%';
}

bool platform_doubles_backslashes(unsigned long, bool before_closing_quote) {
    return before_closing_quote;
}

// How cmd.exe and the C runtime read a command line: which bytes need quotes, which cannot be
// carried, and how backslashes are read.
#include "platform.h"

#include "support/memory.h"
#include "wide_text_win32.h"

#include <windows.h>

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

bool platform_keeps_in_ansi(const char *text, uint32_t length) {
    int units = 0;
    wchar_t *wide = wide_from_utf8(text, int(length), &units);
    // Text that is not UTF-8 is refused later, before the interpreter runs.
    if (!wide) return true;
    bool kept = true;
    for (int i = 0; i < units && kept; ++i) {
        if (wide[i] < 0x80) continue;
        int count = IS_HIGH_SURROGATE(wide[i]) && i + 1 < units ? 2 : 1;
        char ansi[8];
        // Flags 0: the best-fit mapping Windows uses for an ANSI program's command line.
        int bytes =
            WideCharToMultiByte(CP_ACP, 0, wide + i, count, ansi, sizeof ansi, nullptr, nullptr);
        unsigned char byte = static_cast<unsigned char>(ansi[0]);
        if (bytes == 1 && (byte < 0x20 || byte == 0x7F || strchr("\"\\%!", byte))) kept = false;
        i += count - 1;
    }
    mem_free(wide);
    return kept;
}

// How /bin/sh reads a command line: which bytes need quotes, which cannot be carried, and how
// backslashes are read.
#include "platform.h"

#include <cstring>

bool platform_needs_quotes(unsigned char byte) {
    if (byte >= 0x80 || (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
        (byte >= 'A' && byte <= 'Z'))
        return false;
    return !strchr("-_./+,:@%", byte) || byte == '\0';
}

const char *platform_working_copy_name(const char *) {
    return "ravcpy.exe";
}

bool platform_carries_in_quotes(unsigned char byte) {
    return byte != '\0' && byte != '\r' && byte != '\n' && byte != '"' && byte != '$' &&
           byte != '`';
}

bool platform_doubles_backslashes(unsigned long run, bool before_closing_quote) {
    return run > 1 || before_closing_quote;
}

bool platform_keeps_in_ansi(const char *, uint32_t) {
    return true;
}

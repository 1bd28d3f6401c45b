// Character classes of the parser, as isspace, iscntrl and isxdigit give them in the default
// locale, looked up in one table instead of a library call per byte.
#pragma once

#include <cstdint>

enum : uint8_t {
    CHAR_SPACE = 1,  // space, \t, \n, \v, \f, \r
    CHAR_CNTRL = 2,  // 0x00 to 0x1F and 0x7F
    CHAR_XDIGIT = 4, // 0-9, a-f, A-F
    CHAR_DIGIT = 8,  // 0-9
    CHAR_PLAIN = 16, // string content copied as it is: not a control byte, '"' or '\\'
};

struct CharClassTable {
    uint8_t classes[256];
};

constexpr CharClassTable make_char_classes() {
    CharClassTable table{};
    for (int c = 0; c < 256; ++c) {
        uint8_t bits = 0;
        if (c == ' ' || (c >= 0x09 && c <= 0x0D)) bits |= CHAR_SPACE;
        if (c < 0x20 || c == 0x7F) bits |= CHAR_CNTRL;
        if (c >= '0' && c <= '9') bits |= CHAR_XDIGIT | CHAR_DIGIT;
        if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) bits |= CHAR_XDIGIT;
        if (!(bits & CHAR_CNTRL) && c != '"' && c != '\\') bits |= CHAR_PLAIN;
        table.classes[c] = bits;
    }
    return table;
}

inline constexpr CharClassTable char_classes = make_char_classes();

inline bool char_is(char c, uint8_t bits) {
    return (char_classes.classes[static_cast<unsigned char>(c)] & bits) != 0;
}

// Character classes of the parser, as isspace, iscntrl and isxdigit give them in the default
// locale, looked up in one table instead of a library call per byte; and scanners that test
// eight bytes at a time for the long runs of blanks and of plain string content.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

enum : uint8_t {
    CHAR_SPACE = 1,      // space, \t, \n, \v, \f, \r
    CHAR_CNTRL = 2,      // 0x00 to 0x1F and 0x7F
    CHAR_XDIGIT = 4,     // 0-9, a-f, A-F
    CHAR_DIGIT = 8,      // 0-9
    CHAR_PLAIN = 16,     // string content copied as it is: not a control byte, '"' or '\\'
    CHAR_RFC_SPACE = 32, // the strict grammar's white space: space, \t, \n, \r
};

struct CharClassTable {
    uint8_t classes[256];
};

constexpr CharClassTable make_char_classes() {
    CharClassTable table{};
    for (int c = 0; c < 256; ++c) {
        uint8_t bits = 0;
        if (c == ' ' || (c >= 0x09 && c <= 0x0D)) bits |= CHAR_SPACE;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') bits |= CHAR_RFC_SPACE;
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

// ---------------------------------------------------------------------------------------------
// Eight bytes at a time. A mask flags each byte of a word by its top bit; only the flag of the
// lowest flagged byte is exact (a borrow can run upward from it), and that is the one used.
//
// The scanners of NUL-terminated text read whole aligned words: the word that holds the
// terminator may reach past it, but an aligned word never reaches into another page, so it
// cannot fault, and memory checkers accept such partly valid aligned loads. Address
// sanitizers would still report them, so neither the loads nor those scanners are checked.
#if defined(__GNUC__)
#define JSON_READS_PAST_TERMINATOR __attribute__((no_sanitize_address))
#else
#define JSON_READS_PAST_TERMINATOR
#endif

namespace json_words {

constexpr uint64_t ONES = 0x0101010101010101u;
constexpr uint64_t TOPS = 0x8080808080808080u;

JSON_READS_PAST_TERMINATOR inline uint64_t load(const char *p) {
    uint64_t word;
    memcpy(&word, p, sizeof word);
    return word;
}

// A load that stays inside the text, which address sanitizers may check.
inline uint64_t load_inside(const char *p) {
    uint64_t word;
    memcpy(&word, p, sizeof word);
    return word;
}

inline uint64_t below(uint64_t word, uint8_t n) {
    return (word - ONES * n) & ~word & TOPS;
}
inline uint64_t equal(uint64_t word, uint8_t c) {
    return below(word ^ (ONES * c), 1);
}

// Bytes that do not stand for themselves in a string: control bytes, 0x7F, '"' and '\\'. The
// four tests share one "top bit clear" mask: none of the bytes sought has its top bit set.
inline uint64_t special(uint64_t word) {
    uint64_t control = word - ONES * 0x20;
    uint64_t quote = (word ^ (ONES * '"')) - ONES;
    uint64_t backslash = (word ^ (ONES * '\\')) - ONES;
    uint64_t erase = (word ^ (ONES * 0x7F)) - ONES;
    return (control | quote | backslash | erase) & ~word & TOPS;
}

// Bytes that are not decimal digits: each byte's top bit is exact, since no sum crosses a byte.
inline uint64_t non_digit(uint64_t word) {
    uint64_t offset = word ^ (ONES * '0'); // digits become 0 to 9
    return (((offset & ~TOPS) + ONES * (0x80 - 10)) | offset) & TOPS;
}

// Index, in memory order, of the lowest flagged (or, for a difference, non-zero) byte.
inline unsigned first(uint64_t mask) {
    if constexpr (std::endian::native == std::endian::little)
        return unsigned(std::countr_zero(mask)) >> 3;
    else
        return unsigned(std::countl_zero(mask)) >> 3;
}

inline bool aligned(const char *p) {
    return (reinterpret_cast<uintptr_t>(p) & 7) == 0;
}

} // namespace json_words

// The scanners of NUL-terminated text go byte by byte up to an aligned address, then a word at
// a time; short runs, the most common, end before any word is read.

// The first byte at or after p that is not plain string content (CHAR_PLAIN), in NUL-terminated
// text: the terminator itself stops the scan.
JSON_READS_PAST_TERMINATOR inline const char *json_plain_run(const char *p) {
    for (; !json_words::aligned(p); ++p)
        if (!char_is(*p, CHAR_PLAIN)) return p;
    uint64_t mask;
    while (!(mask = json_words::special(json_words::load(p))))
        p += 8;
    return p + json_words::first(mask);
}

// The same within [p, end), reading nothing at or past end.
inline const char *json_plain_run(const char *p, const char *end) {
    while (end - p >= 8) {
        uint64_t mask = json_words::special(json_words::load_inside(p));
        if (mask) return p + json_words::first(mask);
        p += 8;
    }
    while (p < end && char_is(*p, CHAR_PLAIN))
        ++p;
    return p;
}

// The first byte at or after p that is not a blank (0x20), in NUL-terminated text.
JSON_READS_PAST_TERMINATOR inline const char *json_blank_run(const char *p) {
    for (; !json_words::aligned(p); ++p)
        if (*p != ' ') return p;
    uint64_t difference;
    while (!(difference = json_words::load(p) ^ (json_words::ONES * ' ')))
        p += 8;
    return p + json_words::first(difference);
}

// The same within [p, end), reading nothing at or past end.
inline const char *json_blank_run(const char *p, const char *end) {
    while (end - p >= 8) {
        uint64_t difference = json_words::load_inside(p) ^ (json_words::ONES * ' ');
        if (difference) return p + json_words::first(difference);
        p += 8;
    }
    while (p < end && *p == ' ')
        ++p;
    return p;
}

// The first byte at or after p that is not a decimal digit, in NUL-terminated text. For the rare
// long runs: numbers are mostly short, and their callers scan the first digits byte by byte.
JSON_READS_PAST_TERMINATOR inline const char *json_digit_run(const char *p) {
    for (; !json_words::aligned(p); ++p)
        if (!char_is(*p, CHAR_DIGIT)) return p;
    uint64_t mask;
    while (!(mask = json_words::non_digit(json_words::load(p))))
        p += 8;
    return p + json_words::first(mask);
}

// The same within [p, end), reading nothing at or past end.
inline const char *json_digit_run(const char *p, const char *end) {
    while (end - p >= 8) {
        uint64_t mask = json_words::non_digit(json_words::load_inside(p));
        if (mask) return p + json_words::first(mask);
        p += 8;
    }
    while (p < end && char_is(*p, CHAR_DIGIT))
        ++p;
    return p;
}

// Copies up to 32 bytes with fixed-size moves (two that may overlap), reading and writing only
// the count bytes; longer pieces go to memcpy.
inline void json_copy_piece(char *to, const char *from, uint32_t count) {
    if (count > 16 && count <= 32) {
        memcpy(to, from, 16);
        memcpy(to + count - 16, from + count - 16, 16);
    } else if (count >= 8 && count <= 16) {
        memcpy(to, from, 8);
        memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4 && count < 8) {
        memcpy(to, from, 4);
        memcpy(to + count - 4, from + count - 4, 4);
    } else if (count < 4) {
        for (uint32_t i = 0; i < count; ++i)
            to[i] = from[i];
    } else {
        memcpy(to, from, count);
    }
}

// The first byte of a node's text that is not plain string content, or text + length when there
// is none. A string node's text starts 8-byte aligned inside its block and the block reaches
// to the next multiple of 8 past the text's NUL, so whole aligned words are read, the last one
// masked to the text's length; nothing outside the block is read.
JSON_READS_PAST_TERMINATOR inline const char *json_node_text_plain_run(const char *text,
                                                                       uint32_t length) {
    const char *p = text;
    for (uint32_t left = length; left > 0; p += 8) {
        uint64_t mask = json_words::special(json_words::load(p));
        if (left < 8) {
            if constexpr (std::endian::native == std::endian::little)
                mask &= (uint64_t(1) << (8 * left)) - 1;
            else
                mask &= ~((~uint64_t(0)) >> (8 * left));
            left = 0;
        } else {
            left -= 8;
        }
        if (mask) return p + json_words::first(mask);
    }
    return text + length;
}

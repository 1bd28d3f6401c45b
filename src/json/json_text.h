// The two kinds of text the parser reads (not part of json.h).
//
// The parser is written once for both: NUL-terminated text (json_parse and the value parsers),
// and text of a given length (json_parse_length), of which no byte at or past the limit is ever
// read and in which a zero byte is a byte like any other. Text of a length also carries the
// choice of grammar: the library's own, or the strict one (RFC 8259 only). The NUL-terminated
// kind is empty, so the code made for it is the parser as it would be written for it alone.
#pragma once

#include "json_chars.h"

#include <cstddef>

struct NulText {
    static constexpr bool sized = false;
    static constexpr bool strict = false;

    // Whether the text has ended at p, which must not be past the end.
    bool ended(const char *p) const { return *p == '\0'; }
    // The byte at p, or a NUL once the text has ended.
    char at(const char *p) const { return *p; }
    // Whether count bytes from p may be read (always for this kind: the caller stops at the
    // NUL).
    bool holds(const char *, size_t) const { return true; }
    bool is_space(char c) const { return char_is(c, CHAR_SPACE); }
    const char *plain_run(const char *p) const { return json_plain_run(p); }
    const char *digit_run(const char *p) const { return json_digit_run(p); }
};

template <bool Strict>
struct SizedText {
    static constexpr bool sized = true;
    static constexpr bool strict = Strict;

    const char *limit; // one past the last byte

    bool ended(const char *p) const { return p >= limit; }
    char at(const char *p) const { return p < limit ? *p : '\0'; }
    bool holds(const char *p, size_t count) const { return size_t(limit - p) >= count; }
    bool is_space(char c) const { return char_is(c, Strict ? CHAR_RFC_SPACE : CHAR_SPACE); }
    const char *plain_run(const char *p) const { return json_plain_run(p, limit); }
    const char *digit_run(const char *p) const { return json_digit_run(p, limit); }
    const char *blank_run(const char *p) const { return json_blank_run(p, limit); }
};

// The string reader for text of a length (json_string.cpp): json_parse_string's quoted form,
// with the strict grammar's string rules when Strict is set.
template <bool Strict>
int json_read_sized_string(SizedText<Strict> text, const char *position, const char **end,
                           struct JsonValue **value);

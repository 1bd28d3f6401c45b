// Strings: the two-pass string reader, \u escapes and UTF-8 encoding.
#include "json_chars.h"
#include "json_node.h"
#include "json_text.h"

#include <cstring>

namespace {

const uint8_t utf8_lead_bytes[4] = {0x00, 0xC0, 0xE0, 0xF0};

// Reads four hex digits at text into *value; false when any of them is not a hex digit.
template <class Text>
bool read_hex4(Text t, const char *text, uint32_t *value) {
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        char c = t.at(text + i);
        if (!char_is(c, CHAR_XDIGIT)) return false;
        uint32_t digit = c <= '9' ? uint32_t(c - '0') : uint32_t((c | 0x20) - 'a' + 10);
        result = result * 16 + digit;
    }
    *value = result;
    return true;
}

bool is_high_surrogate(uint32_t v) {
    return v >= 0xD800 && v <= 0xDBFF;
}
bool is_low_surrogate(uint32_t v) {
    return v >= 0xDC00 && v <= 0xDFFF;
}

uint32_t utf8_length(uint32_t code_point) {
    if (code_point < 0x80) return 1;
    if (code_point < 0x800) return 2;
    if (code_point < 0x10000) return 3;
    return 4;
}

// json_parse_unicode_escape for either kind of text.
template <class Text>
int parse_unicode_escape(Text t, const char *position, const char **end, uint32_t *code_point) {
    if (t.at(position) != '\\' || t.at(position + 1) != 'u') {
        *end = position;
        return JSON_NOMATCH;
    }
    uint32_t first = 0;
    if (!read_hex4(t, position + 2, &first)) {
        *end = position + 2;
        return JSON_NOMATCH;
    }
    const char *after = position + 6;
    *end = after; // also on an unpaired surrogate: behind the four digits
    if (is_low_surrogate(first)) return JSON_ESYNTAX;
    if (is_high_surrogate(first)) {
        uint32_t second = 0;
        if (t.at(after) != '\\' || t.at(after + 1) != 'u' || !read_hex4(t, after + 2, &second) ||
            !is_low_surrogate(second))
            return JSON_ESYNTAX;
        *code_point = 0x10000 + (first - 0xD800) * 0x400 + (second - 0xDC00);
        *end = after + 6;
        return 0;
    }
    *code_point = first;
    *end = after;
    return 0;
}

// The first byte of [p, stop) that breaks UTF-8 as RFC 3629 defines it (an overlong form, a
// surrogate, a code point above U+10FFFF, a stray or missing continuation byte), or stop when
// there is none. *cut is set when a sequence is still open at stop.
const char *utf8_break(const char *p, const char *stop, bool *cut) {
    *cut = false;
    while (p < stop) {
        if (stop - p >= 8 && (json_words::load_inside(p) & json_words::TOPS) == 0) {
            p += 8;
            continue;
        }
        unsigned lead = static_cast<unsigned char>(*p);
        if (lead < 0x80) {
            ++p;
            continue;
        }
        // Continuation bytes are 0x80 to 0xBF; the first one's range is narrower after E0
        // (no overlong form), ED (no surrogate), F0 (no overlong form) and F4 (up to U+10FFFF).
        int count = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            count = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            count = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            count = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return p;
        }
        const char *q = p + 1;
        for (int i = 0; i < count; ++i, ++q) {
            if (q == stop) {
                *cut = true;
                return q;
            }
            unsigned c = static_cast<unsigned char>(*q);
            if (c < low || c > high) return q;
            low = 0x80;
            high = 0xBF;
        }
        p = q;
    }
    return stop;
}

bool is_strict_escape(char c) {
    return c == '"' || c == '\\' || c == '/' || c == 'b' || c == 'f' || c == 'n' || c == 'r' ||
           c == 't';
}

// Outcome of the first pass over a string.
struct StringScan {
    int status;       // JSON_STRING, JSON_NOMATCH or JSON_ESYNTAX
    const char *stop; // behind the closing quote, at the NUL, or at the offending byte
    uint64_t decoded; // bytes the decoded string takes
    bool escaped;     // whether an escape stands in it; if not, it is copied as it is
};

// First pass: finds where the string ends and how many bytes it decodes to. The strict
// grammar lets DEL (0x7F) stand for itself, checks the UTF-8 of the plain runs, and takes only
// the nine escapes, \u with exactly four hex digits.
template <class Text>
StringScan scan_string(Text t, const char *content, bool opened_with_quote) {
    const char *p = content;
    uint64_t decoded = 0;
    bool escaped = false;
    for (;;) {
        const char *plain = p;
        p = t.plain_run(p);
        if constexpr (Text::strict) {
            bool cut = false;
            const char *broken = utf8_break(plain, p, &cut);
            if (broken != p || (cut && !t.ended(p))) return {JSON_ESYNTAX, broken, 0, escaped};
        }
        decoded += uint64_t(p - plain);
        if (t.ended(p)) return {JSON_NOMATCH, p, decoded, escaped};
        char c = *p;
        if (c == '"') {
            if (opened_with_quote) return {JSON_STRING, p + 1, decoded, escaped};
            return {JSON_ESYNTAX, p, decoded, escaped};
        }
        if (c != '\\') {
            if (Text::strict && c == '\x7F') {
                decoded += 1;
                p += 1;
                continue;
            }
            return {JSON_ESYNTAX, p, decoded, escaped}; // a control byte
        }
        escaped = true;
        char e = t.at(p + 1);
        if (e == 'u') {
            const char *after = nullptr;
            uint32_t code_point = 0;
            int escape = parse_unicode_escape(t, p, &after, &code_point);
            if (escape == JSON_ESYNTAX) return {JSON_ESYNTAX, p, decoded, escaped};
            if (escape == JSON_NOMATCH) {
                if constexpr (Text::strict) {
                    const char *digit = p + 2;
                    while (char_is(t.at(digit), CHAR_XDIGIT))
                        ++digit;
                    int status = t.ended(digit) ? JSON_NOMATCH : JSON_ESYNTAX;
                    return {status, digit, decoded, escaped};
                }
                decoded += 1;
                p += 2;
            } else {
                decoded += utf8_length(code_point);
                p = after;
            }
            continue;
        }
        if (char_is(e, CHAR_CNTRL) || (Text::strict && !is_strict_escape(e)))
            return {JSON_ESYNTAX, p + 1, decoded, escaped};
        decoded += 1;
        p += 2;
    }
}

char unescaped(char c) {
    switch (c) {
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return c;
    }
}

// Second pass: decodes the bytes from content up to stop into out.
void decode_string(const char *content, const char *stop, char *out) {
    const char *p = content;
    while (p < stop) {
        const char *plain = p;
        p = json_plain_run(p, stop);
        memcpy(out, plain, size_t(p - plain));
        out += p - plain;
        if (p >= stop) break;
        if (*p != '\\') { // the closing quote, or a DEL that the strict grammar lets through
            if (*p != '"') *out++ = *p;
            ++p;
            continue;
        }
        if (p[1] == 'u') {
            const char *after = nullptr;
            uint32_t code_point = 0;
            if (json_parse_unicode_escape(p, &after, &code_point) == 0) {
                char bytes[5];
                int count = json_utf8_encode(code_point, bytes);
                memcpy(out, bytes, size_t(count));
                out += count;
                p = after;
            } else {
                *out++ = 'u';
                p += 2;
            }
            continue;
        }
        *out++ = unescaped(p[1]);
        p += 2;
    }
}

template <class Text>
int read_string(Text t, const char *position, int quoted, const char **end, JsonValue **value) {
    bool opened_with_quote = t.at(position) == '"';
    if (!opened_with_quote && quoted) {
        *end = position;
        return JSON_NOMATCH;
    }
    const char *content = opened_with_quote ? position + 1 : position;
    StringScan scan = scan_string(t, content, opened_with_quote);
    *end = scan.stop;
    int status = scan.status;
    if (status == JSON_NOMATCH && !quoted && scan.stop > content) status = JSON_STRING;
    if (status != JSON_STRING || !value) return status;
    if (scan.decoded > JSON_TEXT_MAX) return JSON_ENOMEM;
    JsonValue *node = json_new_text_node(JSON_STRING, uint32_t(scan.decoded));
    if (!node) return JSON_ENOMEM;
    if (scan.escaped)
        decode_string(content, scan.stop, json_text_payload(node)->text);
    else
        json_copy_piece(json_text_payload(node)->text, content, uint32_t(scan.decoded));
    *value = node;
    return JSON_STRING;
}

} // namespace

int json_parse_string(const char *position, int quoted, const char **end, JsonValue **value) {
    return read_string(NulText{}, position, quoted, end, value);
}

template <bool Strict>
int json_read_sized_string(SizedText<Strict> text, const char *position, const char **end,
                           JsonValue **value) {
    return read_string(text, position, 1, end, value);
}

template int json_read_sized_string<false>(SizedText<false>, const char *, const char **,
                                           JsonValue **);
template int json_read_sized_string<true>(SizedText<true>, const char *, const char **,
                                          JsonValue **);

int json_parse_unicode_escape(const char *position, const char **end, uint32_t *code_point) {
    return parse_unicode_escape(NulText{}, position, end, code_point);
}

int json_utf8_encode(uint32_t code_point, char *output) {
    int continuation = int(utf8_length(code_point)) - 1;
    output[0] = char(((code_point >> (6 * continuation)) | utf8_lead_bytes[continuation]) & 0xFF);
    for (int i = 1; i <= continuation; ++i)
        output[i] = char(((code_point >> (6 * (continuation - i))) & 0x3F) | 0x80);
    output[continuation + 1] = '\0';
    return continuation + 1;
}

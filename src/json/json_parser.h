// The parser's templates, written once for both kinds of text (json_text.h); not part of
// json.h. Each source file that includes this compiles its own copies, with internal linkage,
// for the kinds it reads: json_parse.cpp for NUL-terminated text, json_parse_length.cpp for text
// of a length, so that neither kind's code changes how the other's is compiled.
//
// Recursive descent, one function per kind of value. Every function takes a required end output
// and an optional value output; without the value output nothing is allocated. The container
// parsers carry the nesting depth so that a deeply nested text is refused before it can exhaust
// the stack. Every function also takes the kind of text it reads (json_text.h) by value: empty
// for NUL-terminated text, the limit for text of a length.
#pragma once

#include "json_chars.h"
#include "json_node.h"
#include "json_text.h"

#include <cstring>

namespace {

inline bool is_digit(char c) {
    return char_is(c, CHAR_DIGIT);
}

template <class Text>
[[gnu::always_inline]] inline const char *skip_digits(Text t, const char *p) {
    if (t.holds(p, 16)) {
        for (const char *short_end = p + 16; p != short_end; ++p)
            if (!is_digit(*p)) return p;
    }
    return t.digit_run(p);
}

// White space that is there, indentation above all: kept out of line, so that the callers,
// which mostly find none, stay small.
template <bool Strict>
[[gnu::noinline]] const char *skip_present_space(SizedText<Strict> t, const char *position) {
    while (t.is_space(t.at(position)))
        position = t.blank_run(position + 1);
    return position;
}

inline const char *skip_space(NulText, const char *position) {
    return json_skip_space(position);
}

template <bool Strict>
const char *skip_space(SizedText<Strict> t, const char *position) {
    return t.is_space(t.at(position)) ? skip_present_space(t, position) : position;
}

// A quoted string at position, read by the string reader of the text's kind.
inline int read_string(NulText, const char *position, const char **end, JsonValue **value) {
    return json_parse_string(position, 1, end, value);
}

template <bool Strict>
int read_string(SizedText<Strict> t, const char *position, const char **end, JsonValue **value) {
    return json_read_sized_string(t, position, end, value);
}

// The end of the number that starts at p, or null when no number starts there.
template <class Text>
[[gnu::always_inline]] inline const char *scan_number(Text t, const char *p) {
    if (t.at(p) == '-') ++p;
    if (!is_digit(t.at(p))) return nullptr;
    if (*p == '0') {
        ++p;
        if (is_digit(t.at(p))) return nullptr; // no leading zeros
    } else {
        p = skip_digits(t, p);
    }
    char c = t.at(p);
    if (c == '.') {
        ++p;
        if (!is_digit(t.at(p))) return nullptr;
        p = skip_digits(t, p);
        c = t.at(p);
    }
    if (c == 'e' || c == 'E') {
        ++p;
        c = t.at(p);
        if (c == '+' || c == '-') ++p;
        if (!is_digit(t.at(p))) return nullptr;
        p = skip_digits(t, p);
    }
    return p;
}

template <class Text>
[[gnu::always_inline]] inline int parse_number(Text t, const char *position, const char **end,
                                               JsonValue **value) {
    const char *stop = scan_number(t, position);
    if (!stop) {
        *end = position;
        return JSON_NOMATCH;
    }
    *end = stop;
    if (!value) return JSON_NUMBER;
    if (uint64_t(stop - position) > JSON_TEXT_MAX) return JSON_ENOMEM;
    uint32_t length = uint32_t(stop - position);
    JsonValue *node = json_new_text_node(JSON_NUMBER, length);
    if (!node) return JSON_ENOMEM;
    memcpy(json_text_payload(node)->text, position, length);
    *value = node;
    return JSON_NUMBER;
}

// Whether the text begins with the literal; a mismatch, the terminator included, stops early.
template <class Text>
[[gnu::always_inline]] inline bool starts_with(Text t, const char *text,
                                               const JsonLiteral &literal) {
    for (uint32_t i = 0; i < literal.length; ++i)
        if (t.at(text + i) != literal.text[i]) return false;
    return true;
}

template <class Text>
[[gnu::always_inline]] inline int parse_literal(Text t, const char *position, const char **end,
                                                JsonValue **value) {
    *end = position;
    char c = t.at(position);
    if (c != 'n' && c != 't' && c != 'f') return JSON_NOMATCH;
    for (const JsonLiteral &literal : json_literals) {
        if (!starts_with(t, position, literal)) continue;
        *end = position + literal.length;
        if (!value) return int(literal.type);
        JsonValue *node = json_new_literal_node(&literal);
        if (!node) return JSON_ENOMEM;
        *value = node;
        return int(literal.type);
    }
    return JSON_NOMATCH;
}

template <class Text>
inline int parse_value_at(Text t, const char *position, const char **end, JsonValue **value,
                          int depth);
template <class Text>
int parse_array_at(Text t, const char *position, const char **end, JsonValue **value, int depth);
template <class Text>
int parse_object_at(Text t, const char *position, const char **end, JsonValue **value, int depth);

// Opens a container at position: NOMATCH without its bracket, ESYNTAX past the deepest level,
// ENOMEM when its node cannot be made. Returns 0 when parsing may go on.
template <class Text>
[[gnu::always_inline]] inline int open_container(Text t, const char *position, char bracket,
                                                 int depth, JsonValue *(*make)(), const char **end,
                                                 JsonValue **node) {
    *end = position;
    if (t.at(position) != bracket) return JSON_NOMATCH;
    if (depth >= JSON_MAX_DEPTH) return JSON_ESYNTAX;
    if (node && !(*node = make())) return JSON_ENOMEM;
    return 0;
}

// Reads one array item at *scan and appends it (when building). Go-on result: JSON_NOMATCH.
template <class Text>
[[gnu::always_inline]] inline int read_item(Text t, const char **scan, const char **reported,
                                            JsonValue *array, int depth) {
    JsonValue *item = nullptr;
    int status = parse_value_at(t, *scan, reported, array ? &item : nullptr, depth + 1);
    if (json_is_failure(status)) return status;
    if (status == JSON_NOMATCH) return JSON_ESYNTAX;
    *scan = *reported;
    if (!array) return JSON_NOMATCH;
    JsonArray *items = json_array_payload(array);
    if (json_array_insert(items, items->count, item) != 0) {
        json_free(&item);
        return JSON_ENOMEM;
    }
    return JSON_NOMATCH;
}

// After an item or member that ended at scan: where the next one starts (behind the comma and
// its white space), or the closing byte's position with *closed set, or a stop. A text that ends
// right behind the item or the comma is incomplete (JSON_NOMATCH); any other byte there, white
// space followed by the end included, is JSON_ESYNTAX.
template <class Text>
[[gnu::always_inline]] inline int after_element(Text t, const char **scan, char closing,
                                                bool *closed) {
    const char *p = *scan;
    if (t.ended(p)) return JSON_NOMATCH;
    p = skip_space(t, p);
    char c = t.at(p);
    if (c == closing) {
        *scan = p;
        *closed = true;
        return 0;
    }
    if (c != ',') return JSON_ESYNTAX;
    ++p;
    if (t.ended(p)) return JSON_NOMATCH;
    *scan = skip_space(t, p);
    return 0;
}

// The container parsers read element after element in a tight loop. reported is where the text
// was understood up to: the opening byte, then the end of each element read.
template <class Text>
int parse_array_at(Text t, const char *position, const char **end, JsonValue **value, int depth) {
    JsonValue *array = nullptr;
    int status =
        open_container(t, position, '[', depth, json_new_array_node, end, value ? &array : nullptr);
    if (status != 0) return status;
    const char *scan = skip_space(t, position + 1);
    const char *reported = position;
    bool closed = t.at(scan) == ']';
    status = t.ended(scan) ? JSON_NOMATCH : 0;
    while (status == 0 && !closed) {
        status = read_item(t, &scan, &reported, array, depth);
        if (status == JSON_NOMATCH) status = after_element(t, &scan, ']', &closed);
    }
    if (status != 0) {
        *end = reported;
        json_free(&array);
        return status;
    }
    *end = scan + 1;
    if (value) *value = array;
    return JSON_ARRAY;
}

// Reads one "key": value member at *scan and appends it (when building). Go-on: JSON_NOMATCH.
template <class Text>
[[gnu::always_inline]] inline int read_member(Text t, const char **scan, const char **reported,
                                              JsonValue *object, int depth) {
    JsonValue *key = nullptr;
    JsonValue *value = nullptr;
    int status = read_string(t, *scan, reported, object ? &key : nullptr);
    if (json_is_failure(status)) return status;
    if (status != JSON_STRING) return JSON_ESYNTAX;
    const char *colon = skip_space(t, *reported);
    if (t.at(colon) != ':') {
        status = JSON_ESYNTAX;
    } else {
        status = parse_value_at(t, colon + 1, reported, object ? &value : nullptr, depth + 1);
        if (status == JSON_NOMATCH) status = JSON_ESYNTAX;
    }
    if (json_is_failure(status)) {
        json_free(&key);
        return status;
    }
    *scan = *reported;
    if (object && json_object_add(json_object_payload(object), key, value) != 0) {
        json_free(&value);
        json_free(&key);
        return JSON_ENOMEM;
    }
    return JSON_NOMATCH;
}

template <class Text>
int parse_object_at(Text t, const char *position, const char **end, JsonValue **value, int depth) {
    JsonValue *object = nullptr;
    int status = open_container(t, position, '{', depth, json_new_object_node, end,
                                value ? &object : nullptr);
    if (status != 0) return status;
    const char *scan = skip_space(t, position + 1);
    const char *reported = position;
    bool closed = t.at(scan) == '}';
    while (status == 0 && !closed) {
        status = read_member(t, &scan, &reported, object, depth);
        if (status == JSON_NOMATCH) status = after_element(t, &scan, '}', &closed);
    }
    if (status != 0) {
        *end = reported;
        json_free(&object);
        return status;
    }
    *end = scan + 1;
    if (object) json_object_sort(json_object_payload(object));
    if (value) *value = object;
    return JSON_OBJECT;
}

// Tries string, number, literal, array and object in this order; the first byte already tells
// which of them can match, so only that one is tried.
template <class Text>
[[gnu::always_inline]] inline int try_value_kinds(Text t, const char *start, const char **end,
                                                  JsonValue **value, int depth) {
    switch (t.at(start)) {
    case '"':
        return read_string(t, start, end, value);
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        return parse_number(t, start, end, value);
    case 'n':
    case 't':
    case 'f':
        return parse_literal(t, start, end, value);
    case '[':
        return parse_array_at(t, start, end, value, depth);
    case '{':
        return parse_object_at(t, start, end, value, depth);
    default:
        return JSON_NOMATCH;
    }
}

// When no kind matches (an unterminated string or container included), the end is the value's
// first byte, not where the kind's own parser gave up. Inlined into its callers, the container
// loops above all, where most values are read.
template <class Text>
[[gnu::always_inline]] inline int parse_value_at(Text t, const char *position, const char **end,
                                                 JsonValue **value, int depth) {
    const char *start = skip_space(t, position);
    int status = try_value_kinds(t, start, end, value, depth);
    if (status == JSON_NOMATCH) *end = start;
    return status;
}

// The library's own document: an array or an object, with nothing behind it examined. The
// caller has made sure that the text holds two bytes.
template <class Text>
int parse_document(Text t, const char *text, const char **end, JsonValue **root) {
    const char *start = skip_space(t, text);
    JsonValue *document = nullptr;
    JsonValue **output = root ? &document : nullptr;
    int status = parse_array_at(t, start, end, output, 0);
    if (status == JSON_NOMATCH) status = parse_object_at(t, start, end, output, 0);
    if (json_is_failure(status) || status == JSON_NOMATCH) {
        if (root) *root = nullptr;
        return json_is_failure(status) ? status : JSON_ESYNTAX;
    }
    if (root) *root = document;
    return 0;
}

} // namespace

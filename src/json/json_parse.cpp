// The document parser: values, numbers, literals, arrays and objects.
//
// Recursive descent, one function per kind of value. Every function takes a required end output
// and an optional value output; without the value output nothing is allocated. The container
// parsers carry the nesting depth so that a deeply nested text is refused before it can exhaust
// the stack.
#include "json_chars.h"
#include "json_node.h"

#include <cstring>

namespace {

bool is_digit(char c) {
    return char_is(c, CHAR_DIGIT);
}

const char *skip_digits(const char *p) {
    for (const char *short_end = p + 16; p != short_end; ++p)
        if (!is_digit(*p)) return p;
    return json_digit_run(p);
}

// The end of the number that starts at p, or null when no number starts there.
const char *scan_number(const char *p) {
    if (*p == '-') ++p;
    if (!is_digit(*p)) return nullptr;
    if (*p == '0') {
        ++p;
        if (is_digit(*p)) return nullptr; // no leading zeros
    } else {
        p = skip_digits(p);
    }
    if (*p == '.') {
        ++p;
        if (!is_digit(*p)) return nullptr;
        p = skip_digits(p);
    }
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!is_digit(*p)) return nullptr;
        p = skip_digits(p);
    }
    return p;
}

int parse_number(const char *position, const char **end, JsonValue **value) {
    const char *stop = scan_number(position);
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
bool starts_with(const char *text, const JsonLiteral &literal) {
    for (uint32_t i = 0; i < literal.length; ++i)
        if (text[i] != literal.text[i]) return false;
    return true;
}

int parse_literal(const char *position, const char **end, JsonValue **value) {
    *end = position;
    if (*position != 'n' && *position != 't' && *position != 'f') return JSON_NOMATCH;
    for (const JsonLiteral &literal : json_literals) {
        if (!starts_with(position, literal)) continue;
        *end = position + literal.length;
        if (!value) return int(literal.type);
        JsonValue *node = json_new_literal_node(&literal);
        if (!node) return JSON_ENOMEM;
        *value = node;
        return int(literal.type);
    }
    return JSON_NOMATCH;
}

int parse_value_at(const char *position, const char **end, JsonValue **value, int depth);
int parse_array_at(const char *position, const char **end, JsonValue **value, int depth);
int parse_object_at(const char *position, const char **end, JsonValue **value, int depth);

// Opens a container at position: NOMATCH without its bracket, ESYNTAX past the deepest level,
// ENOMEM when its node cannot be made. Returns 0 when parsing may go on.
int open_container(const char *position, char bracket, int depth, JsonValue *(*make)(),
                   const char **end, JsonValue **node) {
    *end = position;
    if (*position != bracket) return JSON_NOMATCH;
    if (depth >= JSON_MAX_DEPTH) return JSON_ESYNTAX;
    if (node && !(*node = make())) return JSON_ENOMEM;
    return 0;
}

// Reads one array item at *scan and appends it (when building). Go-on result: JSON_NOMATCH.
int read_item(const char **scan, const char **reported, JsonValue *array, int depth) {
    JsonValue *item = nullptr;
    int status = parse_value_at(*scan, reported, array ? &item : nullptr, depth + 1);
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
int after_element(const char **scan, char closing, bool *closed) {
    const char *p = *scan;
    if (*p == '\0') return JSON_NOMATCH;
    p = json_skip_space(p);
    if (*p == closing) {
        *scan = p;
        *closed = true;
        return 0;
    }
    if (*p != ',') return JSON_ESYNTAX;
    ++p;
    if (*p == '\0') return JSON_NOMATCH;
    *scan = json_skip_space(p);
    return 0;
}

// The container parsers read element after element in a tight loop. reported is where the text
// was understood up to: the opening byte, then the end of each element read.
int parse_array_at(const char *position, const char **end, JsonValue **value, int depth) {
    JsonValue *array = nullptr;
    int status =
        open_container(position, '[', depth, json_new_array_node, end, value ? &array : nullptr);
    if (status != 0) return status;
    const char *scan = json_skip_space(position + 1);
    const char *reported = position;
    bool closed = *scan == ']';
    status = *scan == '\0' ? JSON_NOMATCH : 0;
    while (status == 0 && !closed) {
        status = read_item(&scan, &reported, array, depth);
        if (status == JSON_NOMATCH) status = after_element(&scan, ']', &closed);
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
int read_member(const char **scan, const char **reported, JsonValue *object, int depth) {
    JsonValue *key = nullptr;
    JsonValue *value = nullptr;
    int status = json_parse_string(*scan, 1, reported, object ? &key : nullptr);
    if (json_is_failure(status)) return status;
    if (status != JSON_STRING) return JSON_ESYNTAX;
    const char *colon = json_skip_space(*reported);
    if (*colon != ':') {
        status = JSON_ESYNTAX;
    } else {
        status = parse_value_at(colon + 1, reported, object ? &value : nullptr, depth + 1);
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

int parse_object_at(const char *position, const char **end, JsonValue **value, int depth) {
    JsonValue *object = nullptr;
    int status =
        open_container(position, '{', depth, json_new_object_node, end, value ? &object : nullptr);
    if (status != 0) return status;
    const char *scan = json_skip_space(position + 1);
    const char *reported = position;
    bool closed = *scan == '}';
    while (status == 0 && !closed) {
        status = read_member(&scan, &reported, object, depth);
        if (status == JSON_NOMATCH) status = after_element(&scan, '}', &closed);
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
int try_value_kinds(const char *start, const char **end, JsonValue **value, int depth) {
    switch (*start) {
    case '"':
        return json_parse_string(start, 1, end, value);
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
        return parse_number(start, end, value);
    case 'n':
    case 't':
    case 'f':
        return parse_literal(start, end, value);
    case '[':
        return parse_array_at(start, end, value, depth);
    case '{':
        return parse_object_at(start, end, value, depth);
    default:
        return JSON_NOMATCH;
    }
}

// When no kind matches (an unterminated string or container included), the end is the value's
// first byte, not where the kind's own parser gave up.
int parse_value_at(const char *position, const char **end, JsonValue **value, int depth) {
    const char *start = json_skip_space(position);
    int status = try_value_kinds(start, end, value, depth);
    if (status == JSON_NOMATCH) *end = start;
    return status;
}

} // namespace

namespace {

// White space that is there, indentation above all: kept out of line, so that the callers,
// which mostly find none, stay small.
[[gnu::noinline]] const char *skip_present_space(const char *position) {
    while (char_is(*position, CHAR_SPACE))
        position = json_blank_run(position + 1);
    return position;
}

} // namespace

const char *json_skip_space(const char *position) {
    return char_is(*position, CHAR_SPACE) ? skip_present_space(position) : position;
}

int json_parse_value(const char *position, const char **end, JsonValue **value) {
    return parse_value_at(position, end, value, 0);
}

int json_parse_array(const char *position, const char **end, JsonValue **value) {
    return parse_array_at(position, end, value, 0);
}

int json_parse_object(const char *position, const char **end, JsonValue **value) {
    return parse_object_at(position, end, value, 0);
}

int json_parse(const char *text, const char **end, JsonValue **root) {
    if (text[0] == '\0' || text[1] == '\0') {
        *end = text;
        return JSON_ESYNTAX;
    }
    const char *start = json_skip_space(text);
    JsonValue *document = nullptr;
    JsonValue **output = root ? &document : nullptr;
    int status = parse_array_at(start, end, output, 0);
    if (status == JSON_NOMATCH) status = parse_object_at(start, end, output, 0);
    if (json_is_failure(status) || status == JSON_NOMATCH) {
        if (root) *root = nullptr;
        return json_is_failure(status) ? status : JSON_ESYNTAX;
    }
    if (root) *root = document;
    return 0;
}

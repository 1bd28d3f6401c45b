// The document parser for NUL-terminated text: json_parse, the value parsers and
// json_skip_space; and where in a text an error lies.
#include "json_parser.h"

#include <cstring>

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
    return parse_value_at(NulText{}, position, end, value, 0);
}

int json_parse_array(const char *position, const char **end, JsonValue **value) {
    return parse_array_at(NulText{}, position, end, value, 0);
}

int json_parse_object(const char *position, const char **end, JsonValue **value) {
    return parse_object_at(NulText{}, position, end, value, 0);
}

int json_parse(const char *text, const char **end, JsonValue **root) {
    if (text[0] == '\0' || text[1] == '\0') {
        *end = text;
        return JSON_ESYNTAX;
    }
    return parse_document(NulText{}, text, end, root);
}

int json_error_position(const char *text, const char *end, uint32_t *line, uint32_t *column) {
    if (!text || !end || end < text) return JSON_EINVAL;
    uint64_t lines = 1;
    const char *line_start = text;
    for (;;) {
        const void *feed = memchr(line_start, '\n', size_t(end - line_start));
        if (!feed) break;
        ++lines;
        line_start = static_cast<const char *>(feed) + 1;
    }
    uint64_t bytes = uint64_t(end - line_start) + 1;
    if (lines > UINT32_MAX || bytes > UINT32_MAX) return JSON_ERANGE;
    *line = uint32_t(lines);
    *column = uint32_t(bytes);
    return 0;
}

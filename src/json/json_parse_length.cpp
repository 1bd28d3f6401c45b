// The document parser for text of a length: json_parse_length, in the library's own grammar
// and in the strict one.
#include "json_parser.h"

namespace {

// The strict document: any one value, with only white space around it.
int parse_strict_document(SizedText<true> t, const char *text, const char **end, JsonValue **root) {
    JsonValue *document = nullptr;
    int status = parse_value_at(t, text, end, root ? &document : nullptr, 0);
    if (status == JSON_NOMATCH) status = JSON_ESYNTAX;
    if (!json_is_failure(status)) {
        const char *behind = skip_space(t, *end);
        if (t.ended(behind)) {
            if (root) *root = document;
            return 0;
        }
        json_free(&document);
        *end = behind;
        status = JSON_ESYNTAX;
    }
    if (root) *root = nullptr;
    return status;
}

} // namespace

int json_parse_length(const char *text, size_t length, unsigned flags, const char **end,
                      JsonValue **root) {
    if ((flags & ~unsigned(JSON_PARSE_STRICT)) != 0) {
        *end = text;
        return JSON_EINVAL;
    }
    if (flags & JSON_PARSE_STRICT) return parse_strict_document({text + length}, text, end, root);
    if (length < 2) {
        *end = text;
        return JSON_ESYNTAX;
    }
    return parse_document(SizedText<false>{text + length}, text, end, root);
}

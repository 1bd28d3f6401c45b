// The template composer: JSON text from a printf-like template, without building a document.
#include "json_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const int ERROR_NO_MEMORY = 12;

bool is_template_char(int c) {
    switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case '\r':
    case ' ':
    case ',':
    case ':':
    case '[':
    case ']':
    case '{':
    case '}':
        return true;
    default:
        return false;
    }
}

// The escape buffer is a TextBuffer, whose 32-bit length also bounds the escaped text; a text
// that cannot fit is refused with 12 as if the buffer could not grow, never cut short.
int write_text(JsonWriter *writer, const char *text, size_t length) {
    if (length > UINT32_MAX) return ERROR_NO_MEMORY;
    const char *quoted = nullptr;
    uint32_t quoted_length = 0;
    int status =
        json_escape_string(&quoted, text, uint32_t(length), &quoted_length, &writer->escape_buffer);
    if (status != 0) return status;
    return json_writer_write(writer, quoted, unsigned(quoted_length), nullptr);
}

int write_whole_text(JsonWriter *writer, const char *text) {
    if (!text) return JSON_ESYNTAX;
    return write_text(writer, text, strlen(text));
}

int write_counted_text(JsonWriter *writer, const char *text, int length) {
    if (!text || length < 0) return JSON_ESYNTAX;
    return write_text(writer, text, size_t(length));
}

int write_number(JsonWriter *writer, int number) {
    char digits[16];
    int length = snprintf(digits, sizeof digits, "%d", number);
    return json_writer_write(writer, digits, unsigned(length), nullptr);
}

int write_structure(JsonWriter *writer, int value) {
    char byte = char(value & 0xFF);
    if (!is_template_char(static_cast<unsigned char>(byte))) return JSON_ESYNTAX;
    return json_writer_write(writer, &byte, 1u, nullptr);
}

int write_literal(JsonWriter *writer, int type) {
    for (const JsonLiteral &literal : json_literals)
        if (int(literal.type) == type)
            return json_writer_write(writer, literal.text, unsigned(literal.length), nullptr);
    return JSON_ESYNTAX;
}

// Writes the directive whose '%' is at *position and leaves *position at its last letter.
int write_directive(JsonWriter *writer, const char **position, va_list *arguments) {
    const char *letter = *position + 1;
    *position = letter;
    switch (*letter) {
    case 's':
        return write_whole_text(writer, va_arg(*arguments, const char *));
    case '*': {
        if (letter[1] != 's') return JSON_ESYNTAX;
        *position = letter + 1;
        int length = va_arg(*arguments, int);
        return write_counted_text(writer, va_arg(*arguments, const char *), length);
    }
    case 'd':
        return write_number(writer, va_arg(*arguments, int));
    case 'c':
        return write_structure(writer, va_arg(*arguments, int));
    case 'J':
        return write_literal(writer, va_arg(*arguments, int));
    default:
        return JSON_ESYNTAX;
    }
}

int walk_template(JsonWriter *writer, const char *template_text, va_list *arguments) {
    for (const char *p = template_text;; ++p) {
        int status;
        if (*p == '\0') return json_writer_flush(writer);
        if (is_template_char(static_cast<unsigned char>(*p)))
            status = json_writer_write(writer, p, 1u, nullptr);
        else if (*p == '%')
            status = write_directive(writer, &p, arguments);
        else
            status = JSON_ESYNTAX;
        if (status != 0) return status;
    }
}

} // namespace

int json_compose(JsonSink sink, void *sink_context, const char *template_text, ...) {
    JsonWriter writer;
    json_writer_init(&writer, sink, sink_context);
    va_list arguments;
    va_start(arguments, template_text);
    int status = walk_template(&writer, template_text, &arguments);
    va_end(arguments);
    json_escape_string(nullptr, nullptr, 0, nullptr, &writer.escape_buffer);
    return status;
}

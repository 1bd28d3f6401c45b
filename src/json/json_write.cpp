// The writer: staging, string escaping, values, whole documents and the log dump.
#include "json_output.h"

#include "support/log.h"
#include "support/memory.h"
#include "support/text_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const int ERROR_NO_MEMORY = 12;

// What a byte becomes inside a quoted string; length 0 means the byte stands as it is.
struct Escape {
    char text[7];
    uint8_t length;
};

struct EscapeTable {
    Escape bytes[256];
};

constexpr Escape short_escape(char letter) { return {{'\\', letter}, 2}; }

constexpr Escape unicode_escape(int byte) {
    const char *hex = "0123456789abcdef";
    return {{'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 15]}, 6};
}

constexpr EscapeTable make_escape_table() {
    EscapeTable table{};
    for (int c = 0; c < 0x20; ++c) table.bytes[c] = unicode_escape(c);
    table.bytes[0x7F] = unicode_escape(0x7F);
    table.bytes['\b'] = short_escape('b');
    table.bytes['\t'] = short_escape('t');
    table.bytes['\n'] = short_escape('n');
    table.bytes['\f'] = short_escape('f');
    table.bytes['\r'] = short_escape('r');
    table.bytes['"'] = short_escape('"');
    table.bytes['\\'] = short_escape('\\');
    return table;
}

constexpr EscapeTable escapes = make_escape_table();

// Appends the quoted, escaped form of length bytes and a terminating zero byte.
int append_escaped(TextBuffer *buffer, const char *source, uint32_t length) {
    if (text_buffer_append_raw(buffer, "\"", 1) != 0) return ERROR_NO_MEMORY;
    uint32_t run_start = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const Escape &escape = escapes.bytes[static_cast<unsigned char>(source[i])];
        if (escape.length == 0) continue;
        if (text_buffer_append_raw(buffer, source + run_start, i - run_start) != 0 ||
            text_buffer_append_raw(buffer, escape.text, escape.length) != 0)
            return ERROR_NO_MEMORY;
        run_start = i + 1;
    }
    if (text_buffer_append_raw(buffer, source + run_start, length - run_start) != 0 ||
        text_buffer_append_raw(buffer, "\"", 2) != 0)
        return ERROR_NO_MEMORY;
    return 0;
}

void release_escape_buffer(TextBuffer **escape_buffer) {
    if (!*escape_buffer) return;
    mem_free((*escape_buffer)->data);
    mem_free(*escape_buffer);
    *escape_buffer = nullptr;
}

// json_escape_string with a choice: whole = true escapes every byte of length, zero bytes
// included (as \u0000), for string values that hold them; whole = false stops at a zero byte.
int escape_string(const char **out_text, const char *source, uint32_t length,
                  uint32_t *out_length, TextBuffer **escape_buffer, bool whole) {
    if (out_text) *out_text = nullptr;
    if (!*escape_buffer) {
        *escape_buffer = static_cast<TextBuffer *>(mem_calloc(1, sizeof(TextBuffer)));
        if (!*escape_buffer) return ERROR_NO_MEMORY;
    }
    TextBuffer *buffer = *escape_buffer;
    buffer->length = 0;
    if (!whole) {
        const void *zero = memchr(source, '\0', length);
        if (zero) length = uint32_t(static_cast<const char *>(zero) - source);
    }
    if (append_escaped(buffer, source, length) != 0) return ERROR_NO_MEMORY;
    if (out_text) *out_text = buffer->data;
    if (out_length) *out_length = buffer->length - 1;
    return 0;
}

int write_separator(JsonWriter *writer, const char *separator) {
    return json_writer_put(writer, separator, uint32_t(writer->separator_length));
}

int write_string(JsonWriter *writer, const JsonValue *value) {
    uint32_t length = 0;
    const char *text = json_text(value, &length);
    const char *quoted = nullptr;
    uint32_t quoted_length = 0;
    int status =
        escape_string(&quoted, text, length, &quoted_length, &writer->escape_buffer, true);
    if (status != 0) return status;
    return json_writer_put(writer, quoted, quoted_length);
}

int write_scalar(JsonWriter *writer, const JsonValue *value) {
    uint32_t length = 0;
    const char *text = json_text(value, &length);
    return json_writer_put(writer, text, length);
}

// Writes an array's items or an object's members with their separators.
int write_container(JsonWriter *writer, const JsonValue *container, const char *open,
                    const char *close) {
    bool is_object = json_type(container) == JSON_OBJECT;
    int status = write_separator(writer, open);
    JsonValue *member_value = nullptr;
    JsonCursor cursor = nullptr;
    JsonValue *child = json_first(container, &member_value, &cursor);
    while (child && status == 0) {
        status = json_write_value(writer, child);
        if (status == 0 && is_object) {
            status = write_separator(writer, writer->name_separator);
            if (status == 0) status = json_write_value(writer, member_value);
        }
        child = json_next(container, &member_value, &cursor);
        if (child && status == 0) status = write_separator(writer, writer->value_separator);
    }
    if (status != 0) return status;
    return write_separator(writer, close);
}

} // namespace

void json_writer_init(JsonWriter *writer, JsonSink sink, void *sink_context) {
    memset(writer, 0, sizeof *writer);
    writer->sink = sink;
    writer->sink_context = sink_context;
    writer->write_pos = writer->staging;
    writer->staging_capacity = sizeof writer->staging;
    writer->separator_length = 2;
    snprintf(writer->open_array, sizeof writer->open_array, "%c ", '[');
    snprintf(writer->close_array, sizeof writer->close_array, " %c", ']');
    snprintf(writer->open_object, sizeof writer->open_object, "%c ", '{');
    snprintf(writer->close_object, sizeof writer->close_object, " %c", '}');
    snprintf(writer->name_separator, sizeof writer->name_separator, "%c ", ':');
    snprintf(writer->value_separator, sizeof writer->value_separator, "%c ", ',');
}

int json_writer_put(JsonWriter *writer, const char *bytes, uint32_t count) {
    while (count > 0) {
        if (writer->staging_used == writer->staging_capacity) {
            int status = json_writer_flush(writer);
            if (status != 0) return status;
        }
        uint32_t room = writer->staging_capacity - writer->staging_used;
        uint32_t taken = count < room ? count : room;
        memcpy(writer->write_pos, bytes, taken);
        writer->write_pos += taken;
        writer->staging_used += taken;
        bytes += taken;
        count -= taken;
    }
    return 0;
}

int json_writer_write(JsonWriter *writer, ...) {
    va_list pairs;
    va_start(pairs, writer);
    int status = 0;
    for (;;) {
        const char *bytes = va_arg(pairs, const char *);
        if (!bytes) break;
        unsigned count = va_arg(pairs, unsigned);
        if (count == 0) break;
        status = json_writer_put(writer, bytes, count);
        if (status != 0) break;
    }
    va_end(pairs);
    return status;
}

int json_writer_flush(JsonWriter *writer) {
    int status = writer->sink(writer->staging, int(writer->staging_used), writer->sink_context);
    if (status != 0) return status;
    writer->staging_used = 0;
    writer->write_pos = writer->staging;
    return 0;
}

int json_write_value(JsonWriter *writer, const JsonValue *value) {
    switch (json_type(value)) {
    case JSON_NULL:
    case JSON_FALSE:
    case JSON_TRUE:
    case JSON_NUMBER:
        return write_scalar(writer, value);
    case JSON_STRING:
        return write_string(writer, value);
    case JSON_ARRAY:
        return write_container(writer, value, writer->open_array, writer->close_array);
    case JSON_OBJECT:
        return write_container(writer, value, writer->open_object, writer->close_object);
    default:
        return 0;
    }
}

int json_escape_string(const char **out_text, const char *source, uint32_t length,
                       uint32_t *out_length, TextBuffer **escape_buffer) {
    if (!source) {
        release_escape_buffer(escape_buffer);
        return 0;
    }
    return escape_string(out_text, source, length, out_length, escape_buffer, false);
}

int json_serialize(const JsonValue *root, JsonSink sink, void *sink_context) {
    JsonWriter writer;
    json_writer_init(&writer, sink, sink_context);
    int status = json_write_value(&writer, root);
    if (status == 0) status = json_writer_flush(&writer);
    json_escape_string(nullptr, nullptr, 0, nullptr, &writer.escape_buffer);
    return status;
}

void json_dump_to_log(const JsonValue *root) {
    TextBuffer text;
    text_buffer_init(&text);
    int status = json_serialize(root, text_buffer_sink, &text);
    log_message(7, "%s", status == 0 && text.data ? text.data : "Error dumping json");
    mem_free(text.data);
}

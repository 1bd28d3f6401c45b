// The writer: staging, string escaping, values, whole documents and the log dump.
#include "json_chars.h"
#include "json_node.h"
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

constexpr Escape short_escape(char letter) {
    return {{'\\', letter}, 2};
}

constexpr Escape unicode_escape(int byte) {
    const char *hex = "0123456789abcdef";
    return {{'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 15]}, 6};
}

constexpr EscapeTable make_escape_table() {
    EscapeTable table{};
    for (int c = 0; c < 0x20; ++c)
        table.bytes[c] = unicode_escape(c);
    table.bytes[0x7F] = unicode_escape(0x7F);
    table.bytes[static_cast<unsigned char>('\b')] = short_escape('b');
    table.bytes[static_cast<unsigned char>('\t')] = short_escape('t');
    table.bytes[static_cast<unsigned char>('\n')] = short_escape('n');
    table.bytes[static_cast<unsigned char>('\f')] = short_escape('f');
    table.bytes[static_cast<unsigned char>('\r')] = short_escape('r');
    table.bytes[static_cast<unsigned char>('"')] = short_escape('"');
    table.bytes[static_cast<unsigned char>('\\')] = short_escape('\\');
    return table;
}

constexpr EscapeTable escapes = make_escape_table();

// Appends the quoted, escaped form of length bytes and a terminating zero byte.
int append_escaped(TextBuffer *buffer, const char *source, uint32_t length) {
    if (text_buffer_append_raw(buffer, "\"", 1) != 0) return ERROR_NO_MEMORY;
    const char *end = source + length;
    const char *run = source;
    for (;;) {
        const char *special = json_plain_run(run, end); // bytes that need no escape
        if (special == end) break;
        const Escape &escape = escapes.bytes[static_cast<unsigned char>(*special)];
        if (text_buffer_append_raw(buffer, run, uint32_t(special - run)) != 0 ||
            text_buffer_append_raw(buffer, escape.text, escape.length) != 0)
            return ERROR_NO_MEMORY;
        run = special + 1;
    }
    if (text_buffer_append_raw(buffer, run, uint32_t(end - run)) != 0 ||
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

int escape_string(const char **out_text, const char *source, uint32_t length, uint32_t *out_length,
                  TextBuffer **escape_buffer) {
    if (out_text) *out_text = nullptr;
    if (!*escape_buffer) {
        *escape_buffer = static_cast<TextBuffer *>(mem_calloc(1, sizeof(TextBuffer)));
        if (!*escape_buffer) return ERROR_NO_MEMORY;
    }
    TextBuffer *buffer = *escape_buffer;
    buffer->length = 0;
    const void *zero = memchr(source, '\0', length);
    if (zero) length = uint32_t(static_cast<const char *>(zero) - source);
    if (append_escaped(buffer, source, length) != 0) return ERROR_NO_MEMORY;
    if (out_text) *out_text = buffer->data;
    if (out_length) *out_length = buffer->length - 1;
    return 0;
}

// Every separator is separator_length bytes of its field; the walk is made twice, and its copy
// for two bytes (json_writer_init's and every caller's) stores them directly.
template <bool TWO_BYTES>
inline int write_separator(JsonWriter *writer, const char *separator) {
    if (TWO_BYTES && writer->staging_capacity - writer->staging_used >= 2) {
        // Both bytes in one move: a byte stored through a char pointer may alias the writer, so
        // a store between them would make the compiler read the writer's fields again.
        char *out = writer->write_pos;
        memcpy(out, separator, 2);
        writer->write_pos = out + 2;
        writer->staging_used += 2;
        return 0;
    }
    return json_writer_put_slow(writer, separator, uint32_t(writer->separator_length));
}

// Writes the quoted, escaped form of a string straight into the staging buffer: runs that need
// no escape are copied whole, each other byte becomes its escape. Most strings need none: when
// such a string fits the staging room it is placed with its quotes in one step.
int write_string(JsonWriter *writer, const JsonText *string) {
    uint32_t length = string->length;
    const char *run = string->text;
    const char *end = run + length;
    const char *special = json_node_text_plain_run(run, length);
    if (special == end && length + 2 <= writer->staging_capacity - writer->staging_used) {
        char *out = writer->write_pos;
        writer->write_pos = out + length + 2;
        writer->staging_used += length + 2;
        out[0] = '"';
        json_copy_piece(out + 1, run, length);
        out[length + 1] = '"';
        return 0;
    }
    int status = json_writer_put(writer, "\"", 1);
    while (status == 0) {
        status = json_writer_put(writer, run, uint32_t(special - run));
        if (special == end || status != 0) break;
        const Escape &escape = escapes.bytes[static_cast<unsigned char>(*special)];
        status = json_writer_put(writer, escape.text, escape.length);
        run = special + 1;
        special = json_plain_run(run, end);
    }
    if (status != 0) return status;
    return json_writer_put(writer, "\"", 1);
}

int write_scalar(JsonWriter *writer, const JsonValue *value) {
    switch (value->type) {
    case JSON_NULL:
    case JSON_FALSE:
    case JSON_TRUE: {
        const JsonLiteral *literal = json_literal_payload(value);
        return json_writer_put(writer, literal->text, literal->length);
    }
    case JSON_NUMBER: {
        const JsonText *number = json_text_payload(value);
        return json_writer_put(writer, number->text, number->length);
    }
    case JSON_STRING:
        return write_string(writer, json_text_payload(value));
    default:
        return 0;
    }
}

// The writer walks the tree without recursion, so that no depth of a document (editing can nest
// without bound) exhausts the stack. Each open container is a frame: the container and the index
// of its next child. The first frames live on the stack; deeper ones in a heap block.
struct WriteFrame {
    const JsonValue *container;
    uint32_t next;
};

struct WriteStack {
    WriteFrame inline_frames[64];
    WriteFrame *frames;
    size_t count;
    size_t capacity;
};

// Doubles the frames' room, moving them to the heap on the first growth.
[[gnu::noinline]] bool grow_frames(WriteStack *stack) {
    size_t capacity = stack->capacity * 2;
    WriteFrame *heap_frames = stack->frames == stack->inline_frames ? nullptr : stack->frames;
    void *grown = mem_realloc(heap_frames, capacity * sizeof(WriteFrame));
    if (!grown) return false;
    if (!heap_frames) memcpy(grown, stack->frames, stack->count * sizeof(WriteFrame));
    stack->frames = static_cast<WriteFrame *>(grown);
    stack->capacity = capacity;
    return true;
}

inline bool push_frame(WriteStack *stack, const JsonValue *container) {
    if (stack->count == stack->capacity && !grow_frames(stack)) return false;
    stack->frames[stack->count++] = {container, 0};
    return true;
}

bool is_container(const JsonValue *value) {
    return value->type == JSON_ARRAY || value->type == JSON_OBJECT;
}

// Writes a container's opening and pushes its frame, or writes it whole when it is empty.
template <bool TWO_BYTES>
[[gnu::always_inline]] inline int begin_container(JsonWriter *writer, WriteStack *stack,
                                                  const JsonValue *container) {
    bool array = container->type == JSON_ARRAY;
    int status =
        write_separator<TWO_BYTES>(writer, array ? writer->open_array : writer->open_object);
    if (status != 0) return status;
    uint32_t count =
        array ? json_array_payload(container)->count : json_object_payload(container)->count;
    if (count == 0)
        return write_separator<TWO_BYTES>(writer,
                                          array ? writer->close_array : writer->close_object);
    return push_frame(stack, container) ? 0 : ERROR_NO_MEMORY;
}

// Writes a child after its separator (and key), unless *status already holds a failure: a
// scalar whole, or a container's opening, which ends the parent's turn so that the walk goes on
// in the child. True when the parent's loop must return *status. The frame's next index is
// stored before the push, which may move the frames.
template <bool TWO_BYTES>
inline bool write_child(JsonWriter *writer, WriteStack *stack, WriteFrame *top, uint32_t next,
                        const JsonValue *child, int *status) {
    if (*status == 0 && is_container(child)) {
        top->next = next;
        *status = begin_container<TWO_BYTES>(writer, stack, child);
        return true;
    }
    if (*status == 0) *status = write_scalar(writer, child);
    return *status != 0;
}

// Write the top frame's children from its next one on: up to a child container, which is opened
// and pushed, or to the end, where the container is closed and popped. Scalars are written in
// the loop, so that the walk costs no more than recursion did. A failure returns at once.
template <bool TWO_BYTES>
int write_array_children(JsonWriter *writer, WriteStack *stack) {
    WriteFrame *top = &stack->frames[stack->count - 1];
    const JsonArray *array = json_array_payload(top->container);
    // Locals, since the output's byte stores may alias the frame and the array for the compiler.
    JsonCell *const *cells = array->cells;
    uint32_t count = array->count;
    for (uint32_t index = top->next; index < count;) {
        int status = index > 0 ? write_separator<TWO_BYTES>(writer, writer->value_separator) : 0;
        const JsonValue *child = cells[index++]->value;
        if (write_child<TWO_BYTES>(writer, stack, top, index, child, &status)) return status;
    }
    --stack->count;
    return write_separator<TWO_BYTES>(writer, writer->close_array);
}

// What stands before a member's value, ", " (but before the first), the quoted key and ": ", in
// one step when the key needs no escape and all of it fits the staging room. False: nothing was
// written, and the pieces must go one by one.
template <bool TWO_BYTES>
bool put_member_head(JsonWriter *writer, const JsonText *key, bool after_another) {
    uint32_t need = key->length + 4 + (after_another ? 2 : 0);
    if (!TWO_BYTES || need > writer->staging_capacity - writer->staging_used) return false;
    if (json_node_text_plain_run(key->text, key->length) != key->text + key->length) return false;
    char *out = writer->write_pos;
    char name_separator[2];
    memcpy(name_separator, writer->name_separator, 2);
    writer->write_pos = out + need;
    writer->staging_used += need;
    if (after_another) {
        memcpy(out, writer->value_separator, 2);
        out += 2;
    }
    out[0] = '"';
    json_copy_piece(out + 1, key->text, key->length);
    out += key->length + 1;
    out[0] = '"';
    memcpy(out + 1, name_separator, 2);
    return true;
}

template <bool TWO_BYTES>
int write_object_children(JsonWriter *writer, WriteStack *stack) {
    WriteFrame *top = &stack->frames[stack->count - 1];
    const JsonObject *object = json_object_payload(top->container);
    JsonMember *const *members = object->members;
    uint32_t count = object->count;
    for (uint32_t index = top->next; index < count;) {
        const JsonMember *member = members[index];
        int status = 0;
        if (!put_member_head<TWO_BYTES>(writer, json_text_payload(member->key), index > 0)) {
            status = index > 0 ? write_separator<TWO_BYTES>(writer, writer->value_separator) : 0;
            if (status == 0) status = write_string(writer, json_text_payload(member->key));
            if (status == 0) status = write_separator<TWO_BYTES>(writer, writer->name_separator);
        }
        ++index;
        if (write_child<TWO_BYTES>(writer, stack, top, index, member->value, &status))
            return status;
    }
    --stack->count;
    return write_separator<TWO_BYTES>(writer, writer->close_object);
}

template <bool TWO_BYTES>
int write_tree(JsonWriter *writer, WriteStack *stack, const JsonValue *root) {
    if (!is_container(root)) return write_scalar(writer, root);
    int status = begin_container<TWO_BYTES>(writer, stack, root);
    while (status == 0 && stack->count > 0) {
        if (stack->frames[stack->count - 1].container->type == JSON_ARRAY)
            status = write_array_children<TWO_BYTES>(writer, stack);
        else
            status = write_object_children<TWO_BYTES>(writer, stack);
    }
    return status;
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

int json_writer_put_slow(JsonWriter *writer, const char *bytes, uint32_t count) {
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
    WriteStack stack;
    stack.frames = stack.inline_frames;
    stack.count = 0;
    stack.capacity = sizeof stack.inline_frames / sizeof stack.inline_frames[0];
    int status = writer->separator_length == 2 ? write_tree<true>(writer, &stack, value)
                                               : write_tree<false>(writer, &stack, value);
    if (stack.frames != stack.inline_frames) mem_free(stack.frames);
    return status;
}

int json_write_scalar(JsonWriter *writer, const JsonValue *value) {
    return write_scalar(writer, value);
}

int json_escape_string(const char **out_text, const char *source, uint32_t length,
                       uint32_t *out_length, TextBuffer **escape_buffer) {
    if (!source) {
        release_escape_buffer(escape_buffer);
        return 0;
    }
    return escape_string(out_text, source, length, out_length, escape_buffer);
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

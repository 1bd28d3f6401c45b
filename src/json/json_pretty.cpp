// Indented and compact writing through the same staging buffer as json_serialize.
#include "json_node.h"
#include "json_output.h"
#include "json_walk.h"

#include <cstring>

namespace {

const int ERROR_NO_MEMORY = 12;

struct PrettyFrame {
    const JsonValue *container;
    uint32_t next;
};

uint32_t child_count(const JsonValue *container) {
    return container->type == JSON_ARRAY ? json_array_payload(container)->count
                                         : json_object_payload(container)->count;
}

bool is_container(const JsonValue *value) {
    return value->type == JSON_ARRAY || value->type == JSON_OBJECT;
}

// A line feed and the indentation of a line at depth levels.
int put_line_start(JsonWriter *writer, uint64_t depth, unsigned indent) {
    static const char blanks[] = "                                                                ";
    int status = json_writer_put(writer, "\n", 1);
    for (uint64_t left = depth * indent; status == 0 && left > 0;) {
        uint32_t piece = left < sizeof blanks - 1 ? uint32_t(left) : uint32_t(sizeof blanks - 1);
        status = json_writer_put(writer, blanks, piece);
        left -= piece;
    }
    return status;
}

// Writes a value that opens no line of its own: a scalar, or an empty container whole. Anything
// else is opened and its frame pushed.
int begin_value(JsonWriter *writer, JsonWalkStack<PrettyFrame> *stack, const JsonValue *value) {
    if (!is_container(value)) return json_write_scalar(writer, value);
    bool array = value->type == JSON_ARRAY;
    if (child_count(value) == 0) return json_writer_put(writer, array ? "[]" : "{}", 2);
    int status = json_writer_put(writer, array ? "[" : "{", 1);
    if (status == 0 && !stack->push({value, 0})) status = ERROR_NO_MEMORY;
    return status;
}

// The next line of the top container: its next child after a comma, or its closing bracket.
int write_next_line(JsonWriter *writer, JsonWalkStack<PrettyFrame> *stack, unsigned indent) {
    PrettyFrame &top = stack->top();
    const JsonValue *container = top.container;
    bool array = container->type == JSON_ARRAY;
    if (top.next == child_count(container)) {
        stack->pop();
        int status = put_line_start(writer, stack->count, indent);
        return status != 0 ? status : json_writer_put(writer, array ? "]" : "}", 1);
    }
    uint32_t index = top.next++;
    int status = index > 0 ? json_writer_put(writer, ",", 1) : 0;
    if (status == 0) status = put_line_start(writer, stack->count, indent);
    if (array) {
        const JsonValue *item = json_array_payload(container)->cells[index]->value;
        return status != 0 ? status : begin_value(writer, stack, item);
    }
    const JsonMember *member = json_object_payload(container)->members[index];
    if (status == 0) status = json_write_scalar(writer, member->key);
    if (status == 0) status = json_writer_put(writer, ": ", 2);
    return status != 0 ? status : begin_value(writer, stack, member->value);
}

int write_pretty(JsonWriter *writer, const JsonValue *root, unsigned indent) {
    JsonWalkStack<PrettyFrame> stack;
    int status = begin_value(writer, &stack, root);
    while (status == 0 && stack.count > 0)
        status = write_next_line(writer, &stack, indent);
    return status;
}

} // namespace

int json_serialize_pretty(const JsonValue *root, unsigned indent, JsonSink sink,
                          void *sink_context) {
    JsonWriter writer;
    json_writer_init(&writer, sink, sink_context);
    int status = write_pretty(&writer, root, indent);
    if (status == 0) status = json_writer_flush(&writer);
    return status;
}

int json_serialize_compact(const JsonValue *root, JsonSink sink, void *sink_context) {
    JsonWriter writer;
    json_writer_init(&writer, sink, sink_context);
    const char *separators[] = {"[", "]", "{", "}", ":", ","};
    char *fields[] = {writer.open_array,   writer.close_array,    writer.open_object,
                      writer.close_object, writer.name_separator, writer.value_separator};
    for (int i = 0; i < 6; ++i)
        memcpy(fields[i], separators[i], 2);
    writer.separator_length = 1;
    int status = json_write_value(&writer, root);
    if (status == 0) status = json_writer_flush(&writer);
    return status;
}

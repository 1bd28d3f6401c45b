#include "update_cycle.h"

#include "command.h"
#include "copy_file.h"
#include "platform.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/text_buffer.h"
#include "updater.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const int ERROR_INVALID = 22;
const int ERROR_NO_MEMORY = 12;
const size_t READ_BUFFER_SIZE = 4096;
const char WORKING_COPY_NAME[] = "ravcpy.exe ";

struct UpdateCycle {
    bool status_mode;
    TextBuffer updater_prefix;
    char *own_directory;
    bool first_source;
};

bool is_scalar(uint32_t type) {
    return type == JSON_NULL || type == JSON_FALSE || type == JSON_TRUE || type == JSON_STRING ||
           type == JSON_NUMBER;
}

// Appends each item's text and a blank; empty texts add nothing, containers are refused.
int append_argument_texts(TextBuffer *out, const JsonValue *array) {
    JsonCursor cursor = nullptr;
    for (JsonValue *item = json_first(array, nullptr, &cursor); item;
         item = json_next(array, nullptr, &cursor)) {
        if (!is_scalar(json_type(item))) return ERROR_INVALID;
        uint32_t length = 0;
        const char *text = json_text(item, &length);
        if (length == 0) continue;
        if (text_buffer_append(out, text, length) != 0 || text_buffer_append(out, " ", 1) != 0)
            return ERROR_NO_MEMORY;
    }
    return 0;
}

int read_whole_file(FILE *file, TextBuffer *text) {
    char buffer[READ_BUFFER_SIZE];
    for (;;) {
        memset(buffer, 0, sizeof buffer);
        size_t count = fread(buffer, 1, sizeof buffer - 1, file);
        if (count == 0) return feof(file) ? 0 : (errno ? errno : EIO);
        if (text_buffer_append(text, buffer, uint32_t(count)) != 0) return ERROR_NO_MEMORY;
    }
}

// Keeps the prefix up to and including its last separator: the updater's directory.
void cut_to_directory(TextBuffer *prefix) {
    char *separator = strrchr(prefix->data, platform_separator);
    uint32_t kept = separator ? uint32_t(separator + 1 - prefix->data) : 0;
    memset(prefix->data + kept, 0, prefix->length - kept);
    prefix->length = kept;
}

int append_parameters(TextBuffer *prefix, const JsonValue *updater) {
    JsonValue *parameters = json_object_find(updater, "parameters", nullptr);
    if (!parameters) return 0;
    if (json_type(parameters) != JSON_ARRAY) return ERROR_INVALID;
    return append_argument_texts(prefix, parameters);
}

// Copies the updater to ravcpy.exe in its directory and builds the updater command prefix.
int prepare_updater(TextBuffer *prefix, const JsonValue *configuration) {
    JsonValue *updater = nullptr;
    TextBuffer updater_name;
    text_buffer_init(&updater_name);
    int result = json_object_get(&updater, configuration, "updater", JSON_OBJECT);
    if (result == 0) result = append_member_text(prefix, updater, "application", JSON_STRING, " ");
    if (result == 0) result = text_buffer_append(&updater_name, prefix->data, prefix->length);
    if (result == 0) {
        cut_to_directory(prefix);
        result = text_buffer_append(prefix, WORKING_COPY_NAME, sizeof WORKING_COPY_NAME - 1);
    }
    if (result == 0) result = copy_file(prefix->data, updater_name.data);
    if (result == 0) result = append_parameters(prefix, updater);
    mem_free(updater_name.data);
    log_message(7, "Get ravcpy: %s", result == 0 ? prefix->data : "Error getting ravcpy");
    return result;
}

// Queries one source and, outside status mode, runs the updater on its response. Failures of
// the query or the response skip the source and are only logged.
void query_source(UpdateCycle *cycle, const char *command, const char *response_name,
                  const TextBuffer *source_arguments) {
    platform_unlink(response_name);
    int exit_status = 0;
    if (run_command(command, &exit_status) != 0) return;
    JsonValue *response = nullptr;
    if (read_json_file(response_name, &response) != 0) return;
    if (!cycle->status_mode) platform_unlink(response_name);
    json_dump_to_log(response);
    if (!cycle->status_mode) {
        if (cycle->first_source)
            register_hub_module(&cycle->updater_prefix, response, cycle->own_directory);
        run_updater(&cycle->updater_prefix, response, source_arguments);
        cycle->first_source = false;
    }
    json_free(&response);
}

// Handles one item of "sources"; a result other than 0 ends the walk.
int process_source(UpdateCycle *cycle, const JsonValue *source) {
    TextBuffer source_arguments;
    text_buffer_init(&source_arguments);
    JsonValue *command = nullptr;
    JsonValue *response_name = nullptr;
    int result = json_object_get(&command, source, "application", JSON_STRING);
    if (result == 0) result = json_object_get(&response_name, source, "response", JSON_STRING);
    if (result == 0) {
        JsonValue *parameters = json_object_find(source, "updater_params", nullptr);
        if (parameters && json_type(parameters) == JSON_ARRAY)
            result = append_argument_texts(&source_arguments, parameters);
    }
    if (result == 0)
        query_source(cycle, json_text(command, nullptr), json_text(response_name, nullptr),
                     &source_arguments);
    mem_free(source_arguments.data);
    return result;
}

int walk_sources(UpdateCycle *cycle, const JsonValue *configuration) {
    JsonValue *sources = nullptr;
    int result = json_object_get(&sources, configuration, "sources", JSON_ARRAY);
    if (result != 0) return result;
    cycle->first_source = true;
    JsonCursor cursor = nullptr;
    for (JsonValue *source = json_first(sources, nullptr, &cursor); source && result == 0;
         source = json_next(sources, nullptr, &cursor))
        result = process_source(cycle, source);
    return result;
}

} // namespace

int read_json_file(const char *name, JsonValue **document) {
    int result = 0;
    FILE *file = platform_fopen(name, "rt");
    if (!file) {
        result = errno;
    } else {
        TextBuffer text;
        text_buffer_init(&text);
        result = read_whole_file(file, &text);
        fclose(file);
        if (result == 0) result = text_buffer_append(&text, "", 1);
        if (result == 0) {
            const char *end = nullptr;
            if (json_parse(text.data, &end, document) != 0) {
                *document = nullptr;
                result = ERROR_INVALID;
            }
        }
        mem_free(text.data);
    }
    log_message(6, "Read: [%s] ... %s(%d)", name, result == 0 ? "OK" : "FAIL", result);
    return result;
}

int run_update_cycle(const char *configuration_path, bool status_mode, char *own_directory) {
    JsonValue *configuration = nullptr;
    int result = read_json_file(configuration_path, &configuration);
    if (result != 0) return result;
    json_dump_to_log(configuration);
    UpdateCycle cycle = {status_mode, {nullptr, 0, 0}, own_directory, true};
    if (status_mode)
        log_message(7, "Get ravcpy: %s", "(null)");
    else
        result = prepare_updater(&cycle.updater_prefix, configuration);
    if (result == 0) result = walk_sources(&cycle, configuration);
    mem_free(cycle.updater_prefix.data);
    json_free(&configuration);
    return result;
}

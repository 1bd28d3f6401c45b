#include "update_cycle.h"

#include "command.h"
#include "command_word.h"
#include "copy_file.h"
#include "cycle_outcome.h"
#include "file_text.h"
#include "platform.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/text_buffer.h"
#include "updater.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int ERROR_INVALID = 22;
const int ERROR_NO_MEMORY = 12;
const size_t READ_BUFFER_SIZE = 4096;

// The longest timeout a command can be given: what a 32-bit millisecond count holds (24.8 days);
// a longer one is taken as this.
const double LONGEST_TIMEOUT_MILLISECONDS = 2147483647.0;

struct UpdateCycle {
    bool status_mode;
    TextBuffer updater_prefix;
    unsigned long updater_timeout; // milliseconds, 0 for none
    char *own_directory;
    bool first_source;
    CycleOutcome *outcome; // null: nothing is recorded
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

// Whether a JSON number's text is above zero, also when it is too small for a double (1e-400):
// no minus sign, and a digit other than 0 before the exponent.
bool is_positive_number(const char *text) {
    if (*text == '-') return false;
    for (; *text && *text != 'e' && *text != 'E'; ++text)
        if (*text >= '1' && *text <= '9') return true;
    return false;
}

// The object's optional "timeout" in seconds, as milliseconds: 0 (no limit) when it is absent; a
// positive number gives at least 1 ms and at most the longest; anything else is 22.
int read_timeout(const JsonValue *object, unsigned long *milliseconds) {
    *milliseconds = 0;
    JsonValue *timeout = json_object_find(object, "timeout", nullptr);
    if (!timeout) return 0;
    if (json_type(timeout) != JSON_NUMBER) return ERROR_INVALID;
    const char *text = json_text(timeout, nullptr);
    double seconds = strtod(text, nullptr);
    // A positive number too small for a double reads as 0: it gives the shortest timeout.
    if (seconds == 0 && is_positive_number(text)) seconds = DBL_MIN;
    if (!(seconds > 0)) return ERROR_INVALID;
    double rounded_up = ceil(seconds * 1000);
    *milliseconds =
        (unsigned long)(rounded_up < LONGEST_TIMEOUT_MILLISECONDS ? rounded_up
                                                                  : LONGEST_TIMEOUT_MILLISECONDS);
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

// The working copy's name beside the updater: the updater's directory (up to and including its
// last separator), then the working copy's own name, with the trailing blank that the names
// handed to copy_file have. 22 when no working copy of this updater could run.
int compose_working_copy(TextBuffer *working_copy, const char *updater_name) {
    const char *name = platform_working_copy_name(updater_name);
    if (!name) return ERROR_INVALID;
    const char *separator = nullptr;
    for (const char *p = updater_name; *p; ++p)
        if (strchr(platform_separators, *p)) separator = p;
    uint32_t kept = separator ? uint32_t(separator + 1 - updater_name) : 0;
    if (text_buffer_append(working_copy, updater_name, kept) != 0 ||
        text_buffer_append(working_copy, name, uint32_t(strlen(name))) != 0 ||
        text_buffer_append(working_copy, " ", 1) != 0)
        return ERROR_NO_MEMORY;
    return 0;
}

int append_parameters(TextBuffer *prefix, const JsonValue *updater) {
    JsonValue *parameters = json_object_find(updater, "parameters", nullptr);
    if (!parameters) return 0;
    if (json_type(parameters) != JSON_ARRAY) return ERROR_INVALID;
    return append_argument_texts(prefix, parameters);
}

void record_updater(CycleOutcome *outcome, const JsonValue *application,
                    const TextBuffer *working_copy, int result) {
    outcome->updater_reached = true;
    outcome->updater_status = result;
    outcome->updater_application = cycle_outcome_text(outcome, application);
    if (working_copy->length == 0) return;
    // Without the trailing blank that the names handed to copy_file have.
    outcome->working_copy = static_cast<char *>(mem_calloc(1, working_copy->length));
    if (outcome->working_copy)
        memcpy(outcome->working_copy, working_copy->data, working_copy->length - 1);
    else
        outcome->complete = false;
}

// Copies the updater to its working copy in its directory and builds the updater command
// prefix, which starts with the working copy's path as one word. A path that cannot be carried
// is refused before anything is copied.
int prepare_updater(TextBuffer *prefix, unsigned long *timeout, const JsonValue *configuration,
                    CycleOutcome *outcome) {
    JsonValue *updater = nullptr;
    JsonValue *application = nullptr;
    TextBuffer updater_name;
    TextBuffer working_copy;
    text_buffer_init(&updater_name);
    text_buffer_init(&working_copy);
    int result = json_object_get(&updater, configuration, "updater", JSON_OBJECT);
    if (result == 0) result = json_object_get(&application, updater, "application", JSON_STRING);
    if (result == 0) result = read_timeout(updater, timeout);
    if (result == 0)
        result = append_member_text(&updater_name, updater, "application", JSON_STRING, " ");
    if (result == 0) result = compose_working_copy(&working_copy, json_text(application, nullptr));
    if (result == 0)
        result = append_program_word(prefix, working_copy.data, working_copy.length - 1);
    if (result == 0) result = text_buffer_append(prefix, " ", 1) == 0 ? 0 : ERROR_NO_MEMORY;
    // An updater that is its own working copy would be destroyed by the copy.
    if (result == 0 && platform_same_file(working_copy.data, updater_name.data))
        result = ERROR_INVALID;
    if (result == 0) result = copy_file(working_copy.data, updater_name.data);
    if (result == 0) result = append_parameters(prefix, updater);
    if (outcome) record_updater(outcome, application, &working_copy, result);
    mem_free(updater_name.data);
    mem_free(working_copy.data);
    log_message(7, "Get ravcpy: %s", result == 0 ? prefix->data : "Error getting ravcpy");
    return result;
}

bool is_read_key(const char *key, const ReadKeys *read_keys) {
    for (const ReadKeys *entry = read_keys; entry->key; ++entry)
        if (strcmp(entry->key, key) == 0) return true;
    return false;
}

bool repeats_read_key(const JsonValue *value, const ReadKeys *read_keys);

// Whether an object, or any object item of an array, repeats a read key.
bool inner_repeats_read_key(const JsonValue *value, const ReadKeys *read_keys) {
    if (json_type(value) == JSON_OBJECT) return repeats_read_key(value, read_keys);
    if (json_type(value) != JSON_ARRAY) return false;
    JsonCursor cursor = nullptr;
    for (JsonValue *item = json_first(value, nullptr, &cursor); item;
         item = json_next(value, nullptr, &cursor))
        if (json_type(item) == JSON_OBJECT && repeats_read_key(item, read_keys)) return true;
    return false;
}

// Members come sorted by key, so a key held twice stands next to itself.
bool repeats_read_key(const JsonValue *object, const ReadKeys *read_keys) {
    JsonCursor cursor = nullptr;
    const char *previous = nullptr;
    JsonValue *member_value = nullptr;
    for (JsonValue *key = json_first(object, &member_value, &cursor); key;
         key = json_next(object, &member_value, &cursor)) {
        const char *text = json_text(key, nullptr);
        if (previous && strcmp(previous, text) == 0 && is_read_key(text, read_keys)) return true;
        previous = text;
    }
    for (const ReadKeys *entry = read_keys; entry->key; ++entry) {
        JsonValue *value = entry->inner ? json_object_find(object, entry->key, nullptr) : nullptr;
        if (value && inner_repeats_read_key(value, entry->inner)) return true;
    }
    return false;
}

void log_read(const char *name, int result, StepOutcome *outcome = nullptr) {
    const char *word = result == 0 ? "OK" : "FAIL";
    log_message(6, "Read: [%s] ... %s(%d)", name, word, result);
    if (outcome) *outcome = {true, word, result, 0, -1, nullptr};
}

// The response's identifier and module count, as far as it has them.
void record_response(CycleOutcome *outcome, SourceOutcome *source, const JsonValue *response) {
    JsonValue *kavor = json_object_find(response, "kavor", nullptr);
    if (kavor && json_type(kavor) == JSON_STRING)
        source->kavor = cycle_outcome_text(outcome, kavor);
    JsonValue *modules = json_object_find(response, "modules", nullptr);
    if (modules && json_type(modules) == JSON_ARRAY) source->modules = long(json_length(modules));
}

// Deletes a source's response before its query, so that an old one is never read. Returns 0
// when the file is gone, or the error number when it is there and stays.
int remove_old_response(const char *response_name) {
    errno = 0;
    if (platform_unlink(response_name) == 0 || errno == ENOENT || errno == ENOTDIR) return 0;
    return errno ? errno : EIO;
}

// Queries one source and, outside status mode, runs the updater on its response. Failures of
// the query or the response skip the source and are only logged.
void query_source(UpdateCycle *cycle, const char *command, unsigned long timeout,
                  const char *response_name, const TextBuffer *source_arguments,
                  SourceOutcome *source) {
    int undeleted = remove_old_response(response_name);
    if (undeleted != 0) {
        source->query = {true, "FAIL", undeleted, undeleted, -1, "old_response"};
        log_read(response_name, undeleted, &source->read);
        return;
    }
    int exit_status = 0;
    int ran = run_command(command, &exit_status, timeout, &source->query);
    // A query ended at its timeout may have written part of its response: it is never read.
    if (ran == ETIMEDOUT) platform_unlink(response_name);
    if (ran != 0) return;
    JsonValue *response = nullptr;
    int read = read_json_file(response_name, &response, RESPONSE_KEYS);
    source->read = {true, read == 0 ? "OK" : "FAIL", read, 0, -1, nullptr};
    if (read != 0) return;
    if (cycle->outcome) record_response(cycle->outcome, source, response);
    if (!cycle->status_mode) platform_unlink(response_name);
    json_dump_to_log(response);
    if (!cycle->status_mode) {
        if (cycle->first_source) {
            StepOutcome registration = step_not_reached();
            register_hub_module(&cycle->updater_prefix, response, cycle->own_directory,
                                cycle->updater_timeout, &registration);
            if (cycle->outcome) cycle_outcome_set_registration(cycle->outcome, registration);
        }
        run_updater(&cycle->updater_prefix, response, source_arguments, cycle->updater_timeout,
                    &source->updater);
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
    unsigned long timeout = 0;
    int result = json_object_get(&command, source, "application", JSON_STRING);
    if (result == 0) result = json_object_get(&response_name, source, "response", JSON_STRING);
    if (result == 0) result = read_timeout(source, &timeout);
    if (result == 0) {
        JsonValue *parameters = json_object_find(source, "updater_params", nullptr);
        if (parameters && json_type(parameters) == JSON_ARRAY)
            result = append_argument_texts(&source_arguments, parameters);
    }
    SourceOutcome outcome = {
        nullptr, nullptr, step_not_reached(), step_not_reached(), step_not_reached(), nullptr,
        -1,      false};
    if (result == 0)
        query_source(cycle, json_text(command, nullptr), timeout, json_text(response_name, nullptr),
                     &source_arguments, &outcome);
    if (cycle->outcome) {
        outcome.application = cycle_outcome_text(cycle->outcome, command);
        outcome.response = cycle_outcome_text(cycle->outcome, response_name);
        cycle_outcome_add_source(cycle->outcome, &outcome, cycle->status_mode);
    }
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

// Whether only white space follows a document in its file's text, with at most one 0x1A (the
// end-of-file mark of old Windows editors) as the very last byte.
bool only_white_space_behind(const char *behind, const char *text_end) {
    if (behind < text_end && text_end[-1] == '\x1A') --text_end;
    for (; behind < text_end; ++behind)
        if (*behind != ' ' && *behind != '\t' && *behind != '\n' && *behind != '\r') return false;
    return true;
}

int run_locked_cycle(const char *configuration_path, bool status_mode, char *own_directory,
                     CycleOutcome *outcome) {
    JsonValue *configuration = nullptr;
    int result = read_json_file(configuration_path, &configuration, CONFIGURATION_KEYS);
    if (result != 0) return result;
    json_dump_to_log(configuration);
    UpdateCycle cycle = {status_mode, {nullptr, 0, 0}, 0, own_directory, true, outcome};
    if (status_mode)
        log_message(7, "Get ravcpy: %s", "(null)");
    else
        result =
            prepare_updater(&cycle.updater_prefix, &cycle.updater_timeout, configuration, outcome);
    if (result == 0) result = walk_sources(&cycle, configuration);
    mem_free(cycle.updater_prefix.data);
    json_free(&configuration);
    return result;
}

const ReadKeys UPDATER_KEYS[] = {
    {"application", nullptr}, {"parameters", nullptr}, {"timeout", nullptr}, {nullptr, nullptr}};
const ReadKeys SOURCE_KEYS[] = {{"application", nullptr},
                                {"response", nullptr},
                                {"timeout", nullptr},
                                {"updater_params", nullptr},
                                {nullptr, nullptr}};
const ReadKeys VERSION_KEYS[] = {
    {"mayor", nullptr}, {"minor", nullptr}, {"build", nullptr}, {nullptr, nullptr}};
const ReadKeys MODULE_KEYS[] = {{"application", nullptr},
                                {"module", nullptr},
                                {"version", VERSION_KEYS},
                                {"path", nullptr},
                                {nullptr, nullptr}};

} // namespace

const ReadKeys CONFIGURATION_KEYS[] = {
    {"updater", UPDATER_KEYS}, {"sources", SOURCE_KEYS}, {nullptr, nullptr}};
const ReadKeys RESPONSE_KEYS[] = {{"kavor", nullptr}, {"modules", MODULE_KEYS}, {nullptr, nullptr}};

int read_json_file(const char *name, JsonValue **document, const ReadKeys *read_keys) {
    // Binary: Windows text mode would turn CR LF into LF inside UTF-16 text and end a file at
    // its first byte 0x1A.
    FILE *file = nullptr;
    int result = platform_open_regular_file(name, &file);
    if (result == 0) {
        TextBuffer text;
        text_buffer_init(&text);
        result = read_whole_file(file, &text);
        fclose(file);
        if (result == 0) result = decode_file_text(&text);
        if (result == ERROR_INVALID) *document = nullptr;
        if (result == 0) {
            const char *end = nullptr;
            if (json_parse(text.data, &end, document) != 0) {
                *document = nullptr;
                result = ERROR_INVALID;
            } else if (!only_white_space_behind(end, text.data + text.length) ||
                       (read_keys && json_type(*document) == JSON_OBJECT &&
                        repeats_read_key(*document, read_keys))) {
                json_free(document);
                result = ERROR_INVALID;
            }
        }
        mem_free(text.data);
    }
    log_read(name, result);
    return result;
}

int run_update_cycle(const char *configuration_path, bool status_mode, char *own_directory,
                     CycleOutcome *outcome) {
    PlatformCycleLock lock;
    int result = platform_lock_cycle(configuration_path, &lock);
    if (result != 0) return result;
    result = run_locked_cycle(configuration_path, status_mode, own_directory, outcome);
    platform_unlock_cycle(&lock);
    return result;
}

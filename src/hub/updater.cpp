#include "updater.h"

#include "command.h"
#include "command_word.h"
#include "entry.h"
#include "support/log.h"
#include "support/memory.h"

#include <cstdio>
#include <cstring>

namespace {

const int ERROR_INVALID = 22;
const int ERROR_NO_MEMORY = 12;

const char VERSION_ARGUMENT_START[] = "\"-ver:";

const char REGISTRATION_TEMPLATE[] =
    "{\"kavor\": \"%s\", \"modules\": [{\"application\": 2, \"module\": 10, \"version\": "
    "{\"mayor\": %d, \"minor\": %d, \"build\": 0}, \"path\": \"%s/\"}]}";

// application|module|mayor|minor.build|path
int append_module_entry(TextBuffer *line, const JsonValue *module) {
    JsonValue *version = nullptr;
    int status = json_object_get(&version, module, "version", JSON_OBJECT);
    if (status == 0) status = append_member_text(line, module, "application", JSON_NUMBER, "|");
    if (status == 0) status = append_member_text(line, module, "module", JSON_NUMBER, "|");
    if (status == 0) status = append_member_text(line, version, "mayor", JSON_NUMBER, "|");
    if (status == 0) status = append_member_text(line, version, "minor", JSON_NUMBER, ".");
    if (status == 0) status = append_member_text(line, version, "build", JSON_NUMBER, "|");
    if (status == 0) status = append_member_text(line, module, "path", JSON_STRING, nullptr);
    return status;
}

// kavor@entry@entry... as the response says it, before any escaping.
int append_version_text(TextBuffer *text, const JsonValue *response) {
    int status = append_member_text(text, response, "kavor", JSON_STRING, "@");
    JsonValue *modules = nullptr;
    if (status == 0) status = json_object_get(&modules, response, "modules", JSON_ARRAY);
    JsonCursor cursor = nullptr;
    JsonValue *module = status == 0 ? json_first(modules, nullptr, &cursor) : nullptr;
    while (module && status == 0) {
        JsonValue *following = json_next(modules, nullptr, &cursor);
        status = append_module_entry(text, module);
        if (status == 0 && following) status = text_buffer_append(text, "@", 1);
        module = following;
    }
    return status;
}

// "-ver:kavor@entry@entry..." with its closing quote and a counted zero byte.
int append_version_argument(TextBuffer *line, const JsonValue *response) {
    TextBuffer text;
    text_buffer_init(&text);
    int status = append_version_text(&text, response);
    if (status == 0) status = text_buffer_append(line, VERSION_ARGUMENT_START, 6);
    if (status == 0) status = append_in_quotes(line, text.data, text.length);
    if (status == 0) status = text_buffer_append(line, "\"", 2);
    mem_free(text.data);
    return status;
}

void to_forward_slashes(char *path) {
    for (char *p = path; *p; ++p)
        if (*p == '\\') *p = '/';
}

// The registration text in a heap block sized to fit, or null without memory.
char *format_registration(const char *identifier, const char *directory) {
    int length = snprintf(nullptr, 0, REGISTRATION_TEMPLATE, identifier, HUB_VERSION_MAJOR,
                          HUB_VERSION_MINOR, directory);
    if (length < 0) return nullptr;
    char *text = static_cast<char *>(mem_calloc(1, size_t(length) + 1));
    if (!text) return nullptr;
    snprintf(text, size_t(length) + 1, REGISTRATION_TEMPLATE, identifier, HUB_VERSION_MAJOR,
             HUB_VERSION_MINOR, directory);
    return text;
}

// A step refused before anything ran, with its status.
void note_refusal(StepOutcome *outcome, int status, const char *reason) {
    if (outcome) *outcome = {true, "FAIL", status, status, -1, reason};
}

int run_registration(const TextBuffer *prefix, const char *registration,
                     unsigned long timeout_milliseconds, StepOutcome *outcome) {
    JsonValue *document = nullptr;
    const char *end = nullptr;
    int status = json_parse(registration, &end, &document);
    if (status == 0) {
        TextBuffer no_arguments;
        text_buffer_init(&no_arguments);
        run_updater(prefix, document, &no_arguments, timeout_milliseconds, outcome);
        mem_free(no_arguments.data);
    } else {
        note_refusal(outcome, status, status == JSON_ENOMEM ? "no_memory" : "registration_text");
    }
    json_free(&document);
    return status;
}

} // namespace

int append_member_text(TextBuffer *out, const JsonValue *object, const char *key, uint32_t wanted,
                       const char *suffix) {
    JsonValue *member = nullptr;
    int status = json_object_get(&member, object, key, wanted);
    if (status != 0) return status;
    uint32_t length = 0;
    const char *text = json_text(member, &length);
    if (text_buffer_append(out, text, length) != 0) return ERROR_NO_MEMORY;
    if (!suffix) return 0;
    return text_buffer_append(out, suffix, uint32_t(strlen(suffix)));
}

int compose_updater_command_line(TextBuffer *line, const TextBuffer *prefix,
                                 const JsonValue *response, const TextBuffer *source_arguments) {
    int status = text_buffer_append(line, prefix->data, prefix->length);
    if (status == 0 && source_arguments->length != 0)
        status = text_buffer_append(line, source_arguments->data, source_arguments->length);
    if (status == 0) status = append_version_argument(line, response);
    return status;
}

int run_updater(const TextBuffer *prefix, const JsonValue *response,
                const TextBuffer *source_arguments, unsigned long timeout_milliseconds,
                StepOutcome *outcome) {
    TextBuffer line;
    text_buffer_init(&line);
    int status = compose_updater_command_line(&line, prefix, response, source_arguments);
    if (status != 0) {
        note_refusal(outcome, status, status == ERROR_NO_MEMORY ? "no_memory" : "version_argument");
        log_message(7, "Execute updater: %s", "Error executing updater");
        mem_free(line.data);
        return status;
    }
    int exit_status = 0;
    run_command(line.data, &exit_status, timeout_milliseconds, outcome);
    log_message(7, "Execute updater: %s", line.data);
    mem_free(line.data);
    return 0;
}

int register_hub_module(const TextBuffer *prefix, const JsonValue *response, char *own_directory,
                        unsigned long timeout_milliseconds, StepOutcome *outcome) {
    JsonValue *identifier = nullptr;
    int status = json_object_get(&identifier, response, "kavor", JSON_STRING);
    if (status != 0) {
        note_refusal(outcome, status, "identifier");
        log_message(7, "Update quorlix: %s", "Error updating quorlix");
        return status;
    }
    to_forward_slashes(own_directory);
    char *registration = format_registration(json_text(identifier, nullptr), own_directory);
    status = registration ? run_registration(prefix, registration, timeout_milliseconds, outcome)
                          : ERROR_NO_MEMORY;
    if (!registration) note_refusal(outcome, status, "no_memory");
    log_message(7, "Update quorlix: %s", status == 0 ? registration : "Error updating quorlix");
    mem_free(registration);
    return status;
}

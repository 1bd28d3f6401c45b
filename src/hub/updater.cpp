#include "updater.h"

#include "command.h"
#include "command_word.h"
#include "entry.h"
#include "platform.h"
#include "support/log.h"
#include "support/memory.h"

#include <cstring>

namespace {

const int ERROR_INVALID = 22;
const int ERROR_NO_MEMORY = 12;

const char VERSION_ARGUMENT_START[] = "\"-ver:";

// The registration document; the identifier and the directory go in as JSON strings, quoted
// and escaped, so that whatever they hold they stay one member's text each.
const char REGISTRATION_TEMPLATE[] =
    "{%s: %*s, %s: [{%s: %d, %s: %d, %s: {%s: %d, %s: %d, %s: %d}, "
    "%s: %*s}]}";

void log_not_run() {
    log_message(7, "Execute updater: %s", "Error executing updater");
}

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
    // An updater with an ANSI main would read a character that its code page turns into a quote
    // or a backslash as one, and the argument would no longer be whole.
    if (status == 0 && !platform_keeps_in_ansi(text.data, text.length)) status = ERROR_INVALID;
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

int append_to_buffer(const char *text, int count, void *buffer) {
    return text_buffer_append(static_cast<TextBuffer *>(buffer), text, uint32_t(count));
}

// The registration text, zero-terminated, in registration. Returns 0 or 12.
int compose_registration(TextBuffer *registration, const JsonValue *identifier,
                         const char *directory) {
    TextBuffer path;
    text_buffer_init(&path);
    int status = text_buffer_append(&path, directory, uint32_t(strlen(directory)));
    if (status == 0) status = text_buffer_append(&path, "/", 2);
    uint32_t length = 0;
    const char *text = json_text(identifier, &length);
    if (status == 0)
        status =
            json_compose(append_to_buffer, registration, REGISTRATION_TEMPLATE, "kavor",
                         int(length), text, "modules", "application", int(HUB_APPLICATION),
                         "module", int(HUB_MODULE), "version", "mayor", HUB_VERSION_MAJOR, "minor",
                         HUB_VERSION_MINOR, "build", 0, "path", int(path.length - 1), path.data);
    if (status == 0) status = text_buffer_append(registration, "", 1);
    mem_free(path.data);
    return status == 0 ? 0 : ERROR_NO_MEMORY;
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
        status = run_updater(prefix, document, &no_arguments, timeout_milliseconds, outcome);
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
        log_not_run();
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
    TextBuffer registration;
    text_buffer_init(&registration);
    uint32_t length = 0;
    const char *text = json_text(identifier, &length);
    // A zero byte would end the identifier inside the registration; the version argument cannot
    // carry it either, so the registration is refused as the source's own run is.
    if (memchr(text, 0, length)) {
        log_not_run();
        status = ERROR_INVALID;
        note_refusal(outcome, status, "version_argument");
    } else {
        status = compose_registration(&registration, identifier, own_directory);
        if (status == 0)
            status = run_registration(prefix, registration.data, timeout_milliseconds, outcome);
        else
            note_refusal(outcome, status, "no_memory");
    }
    log_message(7, "Update quorlix: %s",
                status == 0 ? registration.data : "Error updating quorlix");
    mem_free(registration.data);
    return status;
}

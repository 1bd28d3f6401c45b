#include "cycle_outcome.h"

#include "platform.h"
#include "support/memory.h"
#include "support/text_buffer.h"

#include <cstring>

namespace {

const unsigned long FULL_PATH_SIZE = 32768;

char *full_path_of(const char *path) {
    char *buffer = static_cast<char *>(mem_calloc(1, FULL_PATH_SIZE));
    if (!buffer) return nullptr;
    char *file_part = nullptr;
    unsigned long length = platform_full_path(path, FULL_PATH_SIZE, buffer, &file_part);
    if (length == 0 || length >= FULL_PATH_SIZE) {
        mem_free(buffer);
        return nullptr;
    }
    return buffer;
}

void free_source(SourceOutcome *source) {
    mem_free(source->application);
    mem_free(source->response);
    mem_free(source->kavor);
    source->application = source->response = source->kavor = nullptr;
}

} // namespace

bool step_succeeded(const StepOutcome &step) {
    if (!step.happened || step.refused || !step.word) return false;
    return strcmp(step.word, "OK") == 0 || strcmp(step.word, "NO UPDATE") == 0 ||
           strcmp(step.word, "HAVE UPDATE") == 0;
}

void cycle_outcome_init(CycleOutcome *outcome, bool status_mode, const char *configuration_path) {
    memset(outcome, 0, sizeof *outcome);
    outcome->mode = status_mode ? "status" : "start";
    outcome->started = outcome->ended = time(nullptr);
    outcome->registration = step_not_reached();
    outcome->complete = true;
    if (configuration_path) {
        outcome->configuration = full_path_of(configuration_path);
        if (!outcome->configuration) outcome->complete = false;
    }
}

void cycle_outcome_free(CycleOutcome *outcome) {
    for (uint32_t i = 0; i < outcome->source_count; ++i)
        free_source(&outcome->sources[i]);
    mem_free(outcome->sources);
    mem_free(outcome->configuration);
    mem_free(outcome->updater_application);
    mem_free(outcome->working_copy);
    outcome->sources = nullptr;
    outcome->configuration = outcome->updater_application = outcome->working_copy = nullptr;
    outcome->source_count = outcome->source_capacity = 0;
}

char *cycle_outcome_text(CycleOutcome *outcome, const JsonValue *value) {
    if (!value) return nullptr;
    TextBuffer text;
    text_buffer_init(&text);
    if (json_serialize(value, text_buffer_sink, &text) != 0 || !text.data) {
        mem_free(text.data);
        outcome->complete = false;
        return nullptr;
    }
    return text.data;
}

void cycle_outcome_add_source(CycleOutcome *outcome, SourceOutcome *source, bool status_mode) {
    source->ok = step_succeeded(source->query) && source->read.happened && source->read.code == 0 &&
                 (status_mode || step_succeeded(source->updater));
    if (!source->ok) ++outcome->failed_sources;
    if (outcome->source_count == outcome->source_capacity) {
        uint32_t capacity = outcome->source_capacity ? outcome->source_capacity * 2 : 8;
        void *grown = mem_realloc(outcome->sources, capacity * sizeof(SourceOutcome));
        if (!grown) {
            outcome->complete = false;
            free_source(source);
            return;
        }
        outcome->sources = static_cast<SourceOutcome *>(grown);
        outcome->source_capacity = capacity;
    }
    outcome->sources[outcome->source_count++] = *source;
}

void cycle_outcome_set_registration(CycleOutcome *outcome, const StepOutcome &registration) {
    outcome->registration = registration;
    if (registration.happened && !step_succeeded(registration)) ++outcome->failed_sources;
}

void cycle_outcome_finish(CycleOutcome *outcome, int exit_code) {
    outcome->exit_code = exit_code;
    outcome->ended = time(nullptr);
}

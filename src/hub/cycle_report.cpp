#include "cycle_report.h"

#include "entry.h"
#include "platform.h"
#include "support/log.h"
#include "support/memory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const int ERROR_NO_MEMORY = 12;

// Writes through the JSON writer into a text buffer; after the first failure nothing more is
// written and the status stays.
struct ReportWriter {
    JsonWriter writer;
    int status;
};

void put(ReportWriter *out, const char *bytes) {
    if (out->status == 0)
        out->status = json_writer_write(&out->writer, bytes, unsigned(strlen(bytes)), nullptr);
}

// A plain text, quoted and escaped, or null.
void put_text(ReportWriter *out, const char *text) {
    if (!text) return put(out, "null");
    const char *quoted = nullptr;
    uint32_t length = 0;
    if (out->status == 0)
        out->status = json_escape_string(&quoted, text, uint32_t(strlen(text)), &length,
                                         &out->writer.escape_buffer);
    if (out->status == 0) out->status = json_writer_write(&out->writer, quoted, length, nullptr);
}

// A text the record keeps as JSON text already, or null.
void put_json(ReportWriter *out, const char *json_text) {
    put(out, json_text ? json_text : "null");
}

void put_number(ReportWriter *out, long number) {
    char digits[24];
    snprintf(digits, sizeof digits, "%ld", number);
    put(out, digits);
}

void put_member(ReportWriter *out, const char *key, bool first = false) {
    if (!first) put(out, ", ");
    put_text(out, key);
    put(out, ": ");
}

void put_time(ReportWriter *out, time_t when) {
    char text[32];
    const struct tm *utc = gmtime(&when);
    if (!utc || strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc) == 0)
        return put(out, "null");
    put_text(out, text);
}

void put_step(ReportWriter *out, const StepOutcome &step) {
    if (!step.happened) return put(out, "null");
    put(out, "{");
    put_member(out, "word", true);
    put_text(out, step.word);
    put_member(out, "code");
    put_number(out, step.code);
    if (step.error != 0) {
        put_member(out, "error");
        put_number(out, step.error);
    }
    if (step.milliseconds >= 0) {
        put_member(out, "milliseconds");
        put_number(out, step.milliseconds);
    }
    if (step.refused) {
        put_member(out, "refused");
        put_text(out, step.refused);
    }
    put(out, "}");
}

void put_updater(ReportWriter *out, const CycleOutcome *outcome) {
    if (!outcome->updater_reached) return put(out, "null");
    put(out, "{");
    put_member(out, "application", true);
    put_json(out, outcome->updater_application);
    put_member(out, "working_copy");
    put_text(out, outcome->working_copy);
    put_member(out, "status");
    put_number(out, outcome->updater_status);
    put(out, "}");
}

void put_source(ReportWriter *out, const SourceOutcome &source) {
    put(out, "{");
    put_member(out, "application", true);
    put_json(out, source.application);
    put_member(out, "response");
    put_json(out, source.response);
    put(out, ",\n     ");
    put_member(out, "query", true);
    put_step(out, source.query);
    put_member(out, "read");
    put_step(out, source.read);
    put(out, ",\n     ");
    put_member(out, "kavor", true);
    put_json(out, source.kavor);
    put_member(out, "modules");
    if (source.modules < 0)
        put(out, "null");
    else
        put_number(out, source.modules);
    put_member(out, "updater");
    put_step(out, source.updater);
    put_member(out, "ok");
    put(out, source.ok ? "true" : "false");
    put(out, "}");
}

void put_report(ReportWriter *out, const CycleOutcome *outcome, bool strict) {
    char version[32];
    snprintf(version, sizeof version, "%d.%d.%d", HUB_VERSION_MAJOR, HUB_VERSION_MINOR,
             HUB_VERSION_PATCH);
    put(out, "{");
    put_member(out, "report", true);
    put_number(out, REPORT_FORMAT_VERSION);
    put_member(out, "hub");
    put_text(out, version);
    put_member(out, "mode");
    put_text(out, outcome->mode);
    put_member(out, "strict");
    put(out, strict ? "true" : "false");
    put(out, ",\n ");
    put_member(out, "configuration", true);
    put_text(out, outcome->configuration);
    put(out, ",\n ");
    put_member(out, "started", true);
    put_time(out, outcome->started);
    put_member(out, "ended");
    put_time(out, outcome->ended);
    put_member(out, "exit_code");
    put_number(out, outcome->exit_code);
    put_member(out, "complete");
    put(out, outcome->complete ? "true" : "false");
    put(out, ",\n ");
    put_member(out, "updater", true);
    put_updater(out, outcome);
    put(out, ",\n ");
    put_member(out, "registration", true);
    put_step(out, outcome->registration);
    put(out, ",\n ");
    put_member(out, "sources", true);
    put(out, "[");
    for (uint32_t i = 0; i < outcome->source_count; ++i) {
        put(out, i == 0 ? "\n    " : ",\n    ");
        put_source(out, outcome->sources[i]);
    }
    put(out, "],\n ");
    put_member(out, "failed_sources", true);
    put_number(out, long(outcome->failed_sources));
    put(out, "}\n");
}

// The temporary file beside the report, in a block to release with mem_free, or null.
char *temporary_name(const char *name) {
    size_t length = strlen(name) + 32;
    char *temporary = static_cast<char *>(mem_calloc(1, length));
    if (temporary) snprintf(temporary, length, "%s.%lu.tmp", name, platform_process_id());
    return temporary;
}

int replace_report(const char *name, const TextBuffer *text) {
    char *temporary = temporary_name(name);
    if (!temporary) return ENOMEM;
    int result = platform_write_new_file(temporary, text->data, text->length);
    // Left by an earlier process that had this identifier and ended while writing.
    if (result == EEXIST && platform_unlink(temporary) == 0)
        result = platform_write_new_file(temporary, text->data, text->length);
    if (result == 0) result = platform_replace_file(temporary, name);
    if (result != 0 && result != EEXIST) platform_unlink(temporary);
    mem_free(temporary);
    return result;
}

} // namespace

int compose_cycle_report(TextBuffer *text, const CycleOutcome *outcome, bool strict) {
    ReportWriter out;
    json_writer_init(&out.writer, text_buffer_sink, text);
    out.status = 0;
    put_report(&out, outcome, strict);
    if (out.status == 0) out.status = json_writer_flush(&out.writer);
    json_escape_string(nullptr, nullptr, 0, nullptr, &out.writer.escape_buffer);
    return out.status == 0 ? 0 : ERROR_NO_MEMORY;
}

int write_cycle_report(const char *name, const CycleOutcome *outcome, bool strict) {
    TextBuffer text;
    text_buffer_init(&text);
    int result = compose_cycle_report(&text, outcome, strict) == 0 ? 0 : ENOMEM;
    if (result == 0) result = replace_report(name, &text);
    mem_free(text.data);
    if (result != 0)
        log_message(0, "Report: [%s] ... FAIL(%d)", name, result);
    else
        log_message(6, "Report: [%s] ... OK(0)", name);
    return result;
}

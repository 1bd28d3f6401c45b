// The record of what one update cycle did, filled step by step as the cycle goes. The run
// report is written from it, and the exit code of --strict is read from it.
//
// Texts that come from the configuration or a response are kept as JSON text (quoted and
// escaped by the JSON writer), so that they reach the report whole, zero bytes included.
#pragma once

#include "step_outcome.h"
#include "json/json.h"

#include <cstdint>
#include <ctime>

struct SourceOutcome {
    char *application; // JSON text of the query command, or null when the entry has none
    char *response;    // JSON text of the response file's name, or null
    StepOutcome query;
    StepOutcome read;
    StepOutcome updater;
    char *kavor;  // JSON text of the response's "kavor" when it is a string, else null
    long modules; // items of the response's "modules" when it is an array, else -1
    bool ok;
};

struct CycleOutcome {
    const char *mode;    // "start" or "status"
    char *configuration; // the configuration's full path (plain text), or null
    time_t started;
    time_t ended;
    int exit_code;
    // The updater's preparation; not reached in status mode or when the cycle ended before it.
    bool updater_reached;
    char *updater_application; // JSON text of "updater"."application", or null
    char *working_copy;        // the working copy's path (plain text), or null
    int updater_status;        // the preparation's result
    StepOutcome registration;
    SourceOutcome *sources;
    uint32_t source_count;
    uint32_t source_capacity;
    // Sources not ok, plus one when the registration ran and failed. Counted as the cycle goes,
    // so that it holds even when a source could not be kept for want of memory.
    uint32_t failed_sources;
    bool complete; // false when something could not be recorded for want of memory
};

// Starts an empty record: the mode, the configuration's full path and the time now.
void cycle_outcome_init(CycleOutcome *outcome, bool status_mode, const char *configuration_path);

// Releases every text and the sources; the record is then empty.
void cycle_outcome_free(CycleOutcome *outcome);

// The value as JSON text in a block to release with mem_free, or null (and the record marked
// incomplete) without memory. A null value gives null.
char *cycle_outcome_text(CycleOutcome *outcome, const JsonValue *value);

// Keeps a finished source: decides whether it is ok (its query ran and ended without FAIL,
// ERROR or TIMEOUT, its response was read, and outside status mode its updater run ended OK,
// NO UPDATE or HAVE UPDATE) and counts it. Takes over the source's texts.
void cycle_outcome_add_source(CycleOutcome *outcome, SourceOutcome *source, bool status_mode);

// Keeps the registration's outcome and counts it when it failed.
void cycle_outcome_set_registration(CycleOutcome *outcome, const StepOutcome &registration);

// Records the cycle's end: its exit code and the time now.
void cycle_outcome_finish(CycleOutcome *outcome, int exit_code);

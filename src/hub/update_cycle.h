// The update cycle: configuration, updater working copy, and every source in turn.
//
// The configuration file is a JSON object:
//   "updater": {"application": updater program, "parameters": [texts put after it]}
//   "sources": [{"application": query command, "response": file it writes,
//                "updater_params": [texts added for this source]}, ...]
#pragma once

#include "json/json.h"

struct CycleOutcome;

// Reads a whole file and parses it. Returns 0 and stores the document (the caller frees it
// with json_free); errno when the file cannot be opened or read, EISDIR for a directory and
// ENODEV for anything else that is not a regular file (the output untouched); 12 without
// memory; 22 when the text does not parse or anything but white space follows the document,
// one 0x1A as the very last byte aside (the output set to null). Logs the "Read:" line at
// level 6.
// With read_keys, a document holding one of the keys the hub reads twice in the same object
// counts as one that does not parse (22), so that which of them counts never matters.
struct ReadKeys {
    const char *key;
    const ReadKeys *inner; // keys read in the member's object, or in each object of its array
};
// The keys the hub reads in a configuration and in a response, each list ended by a null key.
extern const ReadKeys CONFIGURATION_KEYS[];
extern const ReadKeys RESPONSE_KEYS[];

int read_json_file(const char *name, JsonValue **document, const ReadKeys *read_keys = nullptr);

// Runs one cycle over the configuration file. Outside status mode the updater is copied to
// ravcpy.exe beside it, and after each source's query the updater runs on the response, with
// the hub registering itself before the first such run. In status mode the sources are only
// queried and their responses stay on disk. own_directory may be rewritten by the
// registration. Returns the exit code: 0, or the error that ended the cycle. When outcome is
// given (set up with cycle_outcome_init), every step's outcome is recorded in it as it happens;
// nothing else changes.
int run_update_cycle(const char *configuration_path, bool status_mode, char *own_directory,
                     CycleOutcome *outcome = nullptr);

// Updater invocation: the updater's command line with its version argument, and the hub's own
// registration.
//
// A response file names an identifier and the modules a source knows about:
//   {"kavor": "abc", "modules": [{"application": 7, "module": 3,
//     "version": {"mayor": 2, "minor": 5, "build": 118}, "path": "C:\\Apps\\Seven"}, ...]}
// and becomes the one argument "-ver:abc@7|3|2|5.118|C:\Apps\Seven@..." of the updater.
#pragma once

#include "step_outcome.h"
#include "support/text_buffer.h"
#include "json/json.h"

enum : int {
    HUB_APPLICATION = 2, // the hub registers itself as module 10 of application 2
    HUB_MODULE = 10,
};

// Appends the text of object's member key (which must have exactly the wanted type and not be
// empty) and then suffix, when given. Returns 0, 22 (lookup failed) or 12 (out of memory).
int append_member_text(TextBuffer *out, const JsonValue *object, const char *key, uint32_t wanted,
                       const char *suffix);

// Appends the updater command line to line: prefix, source arguments, then the version
// argument in double quotes, and a terminating zero byte counted in line->length. The texts
// copied from the response reach the updater byte for byte: backslash runs that the
// interpreter or the updater's argument rules would halve are written twice, and a response
// holding a byte that cannot be carried inside the quotes is refused. Returns 0, 22 (a member
// missing, mistyped or empty, or such a byte) or 12 (out of memory).
int compose_updater_command_line(TextBuffer *line, const TextBuffer *prefix,
                                 const JsonValue *response, const TextBuffer *source_arguments);

// Runs the updater: prefix, source arguments, then the version argument made from the response.
// Returns 0 once it ran, whatever its outcome; 22 when the response lacks a usable member or
// holds a byte that cannot be carried inside the quoted version argument; 12 without memory.
// Nothing runs on a failure; neither buffer changes. A run still going after the timeout
// (milliseconds, 0 for none) is ended, as run_command says, and still counts as run.
// When outcome is given it receives the run's outcome (run_command's), or for a command line
// that cannot be composed "FAIL" with the status, refused as "version_argument" (22) or
// "no_memory" (12).
int run_updater(const TextBuffer *prefix, const JsonValue *response,
                const TextBuffer *source_arguments, unsigned long timeout_milliseconds = 0,
                StepOutcome *outcome = nullptr);

// Registers the hub with the updater as module 10 of application 2, version 1.4, installed in
// own_directory (rewritten in place with forward slashes), under the response's identifier. The
// registration is a JSON document holding the identifier and the directory as JSON strings, so
// that the updater receives them as they are, whatever they hold. Returns 0 once the updater was
// invoked; 22 without a usable "kavor" and when the version argument cannot carry the identifier
// (a zero byte, or what run_updater refuses), the updater then not run; 12 without memory. The
// updater run has the timeout of run_updater. When outcome is given it receives the updater
// run's outcome, or "FAIL" with the status, refused as "identifier" (no usable "kavor"),
// "version_argument" (the identifier cannot be carried), "registration_text" (it does not
// parse) or "no_memory".
int register_hub_module(const TextBuffer *prefix, const JsonValue *response, char *own_directory,
                        unsigned long timeout_milliseconds = 0, StepOutcome *outcome = nullptr);

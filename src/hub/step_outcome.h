// What one step of a cycle did: a command run (a query, an updater run) or a file read.
#pragma once

struct StepOutcome {
    bool happened;       // false: the step was not reached
    const char *word;    // the log's word: "OK", "NO UPDATE", "HAVE UPDATE", "ERROR", "FAIL",
                         // "TIMEOUT"; a file read "OK" or "FAIL"
    int code;            // the status or error number the log shows beside the word
    int error;           // the error number behind a failure or a refusal, 0 otherwise
    long milliseconds;   // how long a command ran, -1 for a step that is not timed
    const char *refused; // why the step was refused before anything ran, or null
};

// A step that was not reached.
inline StepOutcome step_not_reached() {
    return {false, nullptr, 0, 0, -1, nullptr};
}

// Whether the step happened and ended with a word that counts as done: "OK", "NO UPDATE" or
// "HAVE UPDATE", and was not refused.
bool step_succeeded(const StepOutcome &step);

// Running a command line through the platform's command interpreter.
#pragma once

#include "step_outcome.h"

// Runs command (wrapped in one extra pair of double quotes for the Windows interpreter), waits
// for it, stores its exit status in *exit_status and logs it with a word at level 7:
// 0 "OK", 1 "NO UPDATE", 2 "HAVE UPDATE", -1 "FAIL" (the interpreter could not be started),
// anything else "ERROR". Returns 0 whenever the command ran, errno for -1, and 12 when the
// wrapped command cannot be composed (nothing run, *exit_status untouched). When the platform
// refuses the line before calling the interpreter (a line longer than cmd.exe takes: E2BIG),
// it is logged as FAIL(-1), its error number is returned and *exit_status is left untouched.
// With a timeout (milliseconds, 0 for none) a command still running then is ended with every
// process it started; the line says "TIMEOUT" with the status it was ended with (Windows 1460,
// POSIX 137) and the result is ETIMEDOUT. The command line is the same with or without one.
// When outcome is given it receives the logged word and status, the result as the error, how
// long the command ran, and for a line refused before the interpreter ran, why.
int run_command(const char *command, int *exit_status, unsigned long timeout_milliseconds = 0,
                StepOutcome *outcome = nullptr);

// The reason a refusal with this error number is reported with: "no_memory", "line_too_long",
// "not_utf8" or "refused".
const char *refusal_reason(int error);

// What the POSIX platform files share among themselves.
#pragma once

// The name a file system call gets: name itself, or, when it ends in blanks, a copy without
// them in trimmed (PATH_MAX bytes). Null (errno set) when the trimmed name does not fit.
const char *file_system_name(const char *name, char *trimmed);

#include <spawn.h>

// Sets up attributes so that a process started with them gets the signal dispositions the hub
// had when it started: SIGPIPE back to its default unless it was ignored then. The signal mask
// is the hub's, which it never changes.
void give_back_start_signals(posix_spawnattr_t *attributes);

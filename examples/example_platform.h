// What the example programs need from the system, for both builds: arguments and file names as
// UTF-8 (Windows converts from its wide forms), and a child process left running.
#pragma once

#include <cstdio>

// The program's own main, called with its arguments in UTF-8.
int example_main(int argc, char **argv);

// fopen for a UTF-8 file name.
FILE *example_fopen(const char *name, const char *mode);

// Starts this program again with these arguments (null-terminated), without waiting for it.
// It stays in the process group (POSIX) or job (Windows) of this one. False when it cannot.
bool example_start_again(const char *const *arguments);

// Sleeps for the given seconds.
void example_sleep(double seconds);

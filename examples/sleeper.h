// A child process that the example programs leave running, to show that a command ended at its
// timeout takes everything it started with it.
#pragma once

#include "example_platform.h"

#include <cstdlib>
#include <cstring>

// Starts this program again as a sleeper that sleeps for seconds and then creates file.
inline bool start_sleeper(const char *seconds, const char *file) {
    const char *arguments[] = {"--sleeper", seconds, file, nullptr};
    return example_start_again(arguments);
}

// When this run is a sleeper ("--sleeper SECONDS FILE"), does its work and returns true.
inline bool run_as_sleeper(int argc, char **argv) {
    if (argc != 4 || strcmp(argv[1], "--sleeper") != 0) return false;
    example_sleep(atof(argv[2]));
    FILE *file = example_fopen(argv[3], "wb");
    if (file) fclose(file);
    return true;
}

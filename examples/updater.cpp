// Example updater: records every argument it receives and exits with a chosen status.
//
//   example-updater.exe --record FILE [--exit STATUS] [--crash] [--sleep SECONDS]
//                       [--child SECONDS FILE] [any other arguments]
//
// Appends one line "[run]" and then each argument after the program name on a line of its own
// to FILE, so that every run of the updater can be read back. Then --child starts a child that
// sleeps SECONDS and creates FILE, and --sleep sleeps, as a hung updater would. Exits with STATUS
// (default 0), or with --crash aborts, as a crashing updater would. Arguments and the record are
// UTF-8 on every platform.
// A real updater would install the modules named by the "-ver:" argument instead.
#include "example_platform.h"
#include "sleeper.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int example_main(int argc, char **argv) {
    if (run_as_sleeper(argc, argv)) return 0;
    const char *record = nullptr;
    const char *sleep_seconds = nullptr;
    const char *child_seconds = nullptr;
    const char *child_file = nullptr;
    int status = 0;
    bool crash = false;
    for (int i = 1; i < argc; ++i) {
        bool has_value = i + 1 < argc;
        if (has_value && strcmp(argv[i], "--record") == 0) record = argv[i + 1];
        if (has_value && strcmp(argv[i], "--exit") == 0) status = atoi(argv[i + 1]);
        if (has_value && strcmp(argv[i], "--sleep") == 0) sleep_seconds = argv[i + 1];
        if (i + 2 < argc && strcmp(argv[i], "--child") == 0) {
            child_seconds = argv[i + 1];
            child_file = argv[i + 2];
        }
        crash = crash || strcmp(argv[i], "--crash") == 0;
    }
    if (!record) {
        fprintf(stderr, "usage: example-updater --record FILE [--exit STATUS] ...\n");
        return 64;
    }
    FILE *out = example_fopen(record, "ab");
    if (!out) {
        fprintf(stderr, "example-updater: cannot write %s\n", record);
        return 65;
    }
    fputs("[run]\n", out);
    for (int i = 1; i < argc; ++i)
        fprintf(out, "%s\n", argv[i]);
    fclose(out);
    if (child_seconds && !start_sleeper(child_seconds, child_file))
        fprintf(stderr, "example-updater: cannot start a child\n");
    if (sleep_seconds) example_sleep(atof(sleep_seconds));
    if (crash) abort();
    return status;
}

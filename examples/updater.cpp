// Example updater: records every argument it receives and exits with a chosen status.
//
//   example-updater.exe --record FILE [--exit STATUS] [--crash] [any other arguments]
//
// Appends one line "[run]" and then each argument after the program name on a line of its own
// to FILE, so that every run of the updater can be read back. Exits with STATUS (default 0), or
// with --crash aborts after recording, as a crashing updater would.
// A real updater would install the modules named by the "-ver:" argument instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
    const char *record = nullptr;
    int status = 0;
    bool crash = false;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--record") == 0) record = argv[i + 1];
        if (strcmp(argv[i], "--exit") == 0) status = atoi(argv[i + 1]);
    }
    for (int i = 1; i < argc; ++i) crash = crash || strcmp(argv[i], "--crash") == 0;
    if (!record) {
        fprintf(stderr, "usage: example-updater --record FILE [--exit STATUS] ...\n");
        return 64;
    }
    FILE *out = fopen(record, "ab");
    if (!out) {
        fprintf(stderr, "example-updater: cannot write %s\n", record);
        return 65;
    }
    fputs("[run]\n", out);
    for (int i = 1; i < argc; ++i)
        fprintf(out, "%s\n", argv[i]);
    fclose(out);
    if (crash) abort();
    return status;
}

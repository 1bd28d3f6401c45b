// Example query program: writes a chosen response file and exits with a chosen status.
//
//   example-query.exe [OPTION...] ANSWER RESPONSE [STATUS]
//
// Copies the file ANSWER to RESPONSE (ANSWER "-" writes no response at all) and exits with
// STATUS (default 0). The hub runs it as a source's "application" and then reads RESPONSE.
// The options act in the order given, before the copy, so that a demonstration or a test can
// hold a query, and with it the update cycle, where it chooses:
//   --started FILE        creates FILE
//   --wait-for FILE       waits until FILE exists (at most a minute)
//   --sleep SECONDS       sleeps
//   --child SECONDS FILE  starts a child that sleeps SECONDS and then creates FILE
// File names and texts are UTF-8 on every platform.
#include "example_platform.h"
#include "sleeper.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int copy(const char *from, const char *to) {
    FILE *in = example_fopen(from, "rb");
    if (!in) {
        fprintf(stderr, "example-query: cannot read %s\n", from);
        return 1;
    }
    FILE *out = example_fopen(to, "wb");
    if (!out) {
        fclose(in);
        fprintf(stderr, "example-query: cannot write %s\n", to);
        return 1;
    }
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, in)) > 0)
        fwrite(buffer, 1, count, out);
    fclose(out);
    fclose(in);
    return 0;
}

bool exists(const char *name) {
    FILE *file = example_fopen(name, "rb");
    if (file) fclose(file);
    return file != nullptr;
}

void create(const char *name) {
    FILE *file = example_fopen(name, "wb");
    if (file) fclose(file);
}

void wait_for(const char *name) {
    for (int tenths = 0; tenths < 600 && !exists(name); ++tenths)
        example_sleep(0.1);
}

// Acts on the option at argv[i]; returns how many arguments it took, or 0 when argv[i] is none.
int take_option(int argc, char **argv, int i) {
    if (i + 1 < argc && strcmp(argv[i], "--started") == 0) {
        create(argv[i + 1]);
        return 2;
    }
    if (i + 1 < argc && strcmp(argv[i], "--wait-for") == 0) {
        wait_for(argv[i + 1]);
        return 2;
    }
    if (i + 1 < argc && strcmp(argv[i], "--sleep") == 0) {
        example_sleep(atof(argv[i + 1]));
        return 2;
    }
    if (i + 2 < argc && strcmp(argv[i], "--child") == 0) {
        if (!start_sleeper(argv[i + 1], argv[i + 2]))
            fprintf(stderr, "example-query: cannot start a child\n");
        return 3;
    }
    return 0;
}

} // namespace

int example_main(int argc, char **argv) {
    if (run_as_sleeper(argc, argv)) return 0;
    int first = 1;
    while (first < argc) {
        int taken = take_option(argc, argv, first);
        if (taken == 0) break;
        first += taken;
    }
    if (argc - first < 2) {
        fprintf(stderr, "usage: example-query [OPTION...] ANSWER RESPONSE [STATUS]\n");
        return 64;
    }
    if (strcmp(argv[first], "-") != 0 && copy(argv[first], argv[first + 1]) != 0) return 65;
    return argc - first > 2 ? atoi(argv[first + 2]) : 0;
}

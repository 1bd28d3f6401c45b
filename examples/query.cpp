// Example query program: writes a chosen response file and exits with a chosen status.
//
//   example-query.exe [--started FILE] [--wait-for FILE] ANSWER RESPONSE [STATUS]
//
// Copies the file ANSWER to RESPONSE (ANSWER "-" writes no response at all) and exits with
// STATUS (default 0). The hub runs it as a source's "application" and then reads RESPONSE.
// --started creates FILE as soon as the program runs; --wait-for then waits until FILE exists
// (at most a minute) before it writes anything, so that a demonstration or a test can hold a
// query, and with it the update cycle, at a point of its choosing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

static int copy(const char *from, const char *to) {
    FILE *in = fopen(from, "rb");
    if (!in) {
        fprintf(stderr, "example-query: cannot read %s\n", from);
        return 1;
    }
    FILE *out = fopen(to, "wb");
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

static bool exists(const char *name) {
    FILE *file = fopen(name, "rb");
    if (file) fclose(file);
    return file != nullptr;
}

static void create(const char *name) {
    FILE *file = fopen(name, "wb");
    if (file) fclose(file);
}

static void wait_for(const char *name) {
    for (int tenths = 0; tenths < 600 && !exists(name); ++tenths)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

int main(int argc, char **argv) {
    int first = 1;
    const char *gate = nullptr;
    for (; first + 1 < argc; first += 2) {
        if (strcmp(argv[first], "--started") == 0)
            create(argv[first + 1]);
        else if (strcmp(argv[first], "--wait-for") == 0)
            gate = argv[first + 1];
        else
            break;
    }
    if (argc - first < 2) {
        fprintf(stderr, "usage: example-query [--started FILE] [--wait-for FILE] ANSWER RESPONSE "
                        "[STATUS]\n");
        return 64;
    }
    if (gate) wait_for(gate);
    if (strcmp(argv[first], "-") != 0 && copy(argv[first], argv[first + 1]) != 0) return 65;
    return argc - first > 2 ? atoi(argv[first + 2]) : 0;
}

// Example query program: writes a chosen response file and exits with a chosen status.
//
//   example-query.exe ANSWER RESPONSE [STATUS]
//
// Copies the file ANSWER to RESPONSE (ANSWER "-" writes no response at all) and exits with
// STATUS (default 0). The hub runs it as a source's "application" and then reads RESPONSE.
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: example-query ANSWER RESPONSE [STATUS]\n");
        return 64;
    }
    if (strcmp(argv[1], "-") != 0 && copy(argv[1], argv[2]) != 0) return 65;
    return argc > 3 ? atoi(argv[3]) : 0;
}

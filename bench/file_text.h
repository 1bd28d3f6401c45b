// A whole file as a string, for the benchmark tools that take a corpus on the command line.
#pragma once

#include <cstdio>
#include <string>

// The file's bytes, or an empty string when it cannot be read.
inline std::string read_file_text(const char *path) {
    std::string text;
    FILE *file = fopen(path, "rb");
    if (!file) return text;
    char buffer[65536];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, count);
    fclose(file);
    return text;
}

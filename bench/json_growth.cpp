// Growth: parse and free of large generated documents, to see that both grow linearly with the
// size and that freeing stays a small part of the work.
//
//   json-growth TWITTER_JSON [TIMES]
//
// Each document is an array holding copies of twitter.json, about 25, 50 and 100 MB. Every
// figure is the best of TIMES runs (default 5). Prints a Markdown table.
#include "file_text.h"
#include "json/json.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string repeated_document(const std::string &item, size_t size) {
    std::string text = "[";
    while (text.size() < size) {
        if (text.size() > 1) text += ',';
        text += item;
    }
    return text + "]";
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: json-growth TWITTER_JSON [TIMES]\n");
        return 64;
    }
    std::string item = read_file_text(argv[1]);
    int times = argc > 2 ? atoi(argv[2]) : 5;
    if (item.empty() || times < 1) return 64;
    printf("| document MB | parse ms | parse ms/MB | free ms | free ms/MB | free ÷ parse |\n");
    printf("|---:|---:|---:|---:|---:|---:|\n");
    for (size_t megabytes : {25, 50, 100}) {
        std::string text = repeated_document(item, megabytes << 20);
        double best_parse = 1e9, best_free = 1e9;
        for (int run = 0; run < times; ++run) {
            const char *end = nullptr;
            JsonValue *root = nullptr;
            auto start = std::chrono::steady_clock::now();
            if (json_parse(text.c_str(), &end, &root) != 0) return 1;
            double parse = seconds_since(start);
            start = std::chrono::steady_clock::now();
            json_free(&root);
            double release = seconds_since(start);
            if (parse < best_parse) best_parse = parse;
            if (release < best_free) best_free = release;
        }
        double size = double(text.size()) / (1 << 20);
        printf("| %.1f | %.1f | %.2f | %.1f | %.2f | %.3f |\n", size, best_parse * 1e3,
               best_parse * 1e3 / size, best_free * 1e3, best_free * 1e3 / size,
               best_free / best_parse);
    }
    return 0;
}

// A plain timing loop, to check the Google Benchmark figures of json-bench against:
//
//   json-loop [SAMPLES] [--thread] [--json-lines FILE]
//
// For each corpus and operation, every library runs the operation once per round, the libraries
// one after the other in each round, and the best of SAMPLES rounds (default 90) counts, in
// corpus MB/s with the ratio to update-hub's. --thread starts and joins one thread first, as
// json-bench's peak heap measurement did: glibc's malloc takes its locks from then on.
// --json-lines also writes each printed result to FILE as one line of JSON, for bench/charts.py.
#include "adapters.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One run of the operation, in seconds; negative when the library failed.
double timed(const JsonAdapter &adapter, const Corpus &corpus, const char *operation,
             void *document) {
    Clock::time_point start = Clock::now();
    if (strcmp(operation, "parse") == 0) {
        void *parsed = adapter.parse(corpus);
        if (!parsed) return -1;
        adapter.release(parsed);
    } else if (strcmp(operation, "validate") == 0) {
        if (!adapter.validate(corpus)) return -1;
    } else if (adapter.serialize(document) == 0) {
        return -1;
    }
    return seconds_since(start);
}

// Numbers in full (%.17g), so that rounding the speed as the text does gives the printed figure.
void write_json_line(FILE *file, const Corpus &corpus, const char *operation, const char *library,
                     double best_seconds, double speed) {
    fprintf(file,
            "{\"corpus\": \"%s\", \"operation\": \"%s\", \"library\": \"%s\", "
            "\"corpus_bytes\": %zu, \"best_seconds\": %.17g, \"mb_per_s\": %.17g}\n",
            corpus.name.c_str(), operation, library, corpus.size, best_seconds, speed);
}

} // namespace

int main(int argc, char **argv) {
    int samples = 90;
    FILE *json_lines = nullptr;
    for (int index = 1; index < argc; ++index) {
        if (strcmp(argv[index], "--thread") == 0) {
            std::thread([] {}).join();
        } else if (strcmp(argv[index], "--json-lines") == 0 && index + 1 < argc) {
            json_lines = fopen(argv[++index], "w");
            if (!json_lines) {
                fprintf(stderr, "json-loop: cannot write %s\n", argv[index]);
                return 1;
            }
        } else {
            samples = atoi(argv[index]);
        }
    }
    const std::vector<JsonAdapter> adapters = {hub_adapter(),       cjson_adapter(),
                                               json_c_adapter(),    nlohmann_adapter(),
                                               rapidjson_adapter(), simdjson_adapter()};
    printf("best of %d, libraries interleaved; x: MB/s divided by update-hub's\n", samples);
    for (const Corpus &corpus : json_bench_corpora()) {
        for (const char *operation : {"parse", "validate", "serialize"}) {
            std::vector<void *> documents;
            for (const JsonAdapter &adapter : adapters)
                documents.push_back(strcmp(operation, "serialize") == 0 ? adapter.parse(corpus)
                                                                        : nullptr);
            std::vector<double> best(adapters.size(), 1e9);
            for (int round = 0; round < samples; ++round)
                for (size_t index = 0; index < adapters.size(); ++index) {
                    if (strcmp(operation, "validate") == 0 && !adapters[index].validate) continue;
                    double time = timed(adapters[index], corpus, operation, documents[index]);
                    if (time >= 0 && time < best[index]) best[index] = time;
                }
            for (size_t index = 0; index < adapters.size(); ++index) {
                if (documents[index]) adapters[index].release(documents[index]);
                if (best[index] >= 1e9) continue;
                double speed = double(corpus.size) / best[index] / 1e6;
                printf("%-18s %-10s %-12s %9.1f MB/s  x %.2f\n", corpus.name.c_str(), operation,
                       adapters[index].library, speed, best[0] / best[index]);
                if (json_lines)
                    write_json_line(json_lines, corpus, operation, adapters[index].library,
                                    best[index], speed);
            }
        }
    }
    if (json_lines && fclose(json_lines) != 0) {
        fprintf(stderr, "json-loop: cannot finish the JSON lines\n");
        return 1;
    }
    return 0;
}

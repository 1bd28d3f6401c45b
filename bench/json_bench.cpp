#include "json_bench.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef HUB_BENCH_DATA
#define HUB_BENCH_DATA "bench-data"
#endif

namespace {

const char *const corpus_names[] = {"canada.json", "citm_catalog.json", "twitter.json"};
const size_t CORPUS_PADDING = 64; // simdjson reads up to this far behind the text

Corpus load_corpus(const char *name) {
    const char *directory = getenv("HUB_BENCH_DATA");
    std::string path = std::string(directory ? directory : HUB_BENCH_DATA) + "/" + name;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) {
        fprintf(stderr, "cannot open %s\n", path.c_str());
        exit(2);
    }
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, 0, SEEK_SET);
    char *text = static_cast<char *>(calloc(size_t(size) + CORPUS_PADDING + 1, 1));
    if (!text || fread(text, 1, size_t(size), file) != size_t(size)) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        exit(2);
    }
    fclose(file);
    return {name, text, size_t(size)};
}

void run_parse(benchmark::State &state, JsonAdapter adapter, const Corpus *corpus) {
    for (auto _ : state) {
        void *document = adapter.parse(*corpus);
        if (!document) {
            state.SkipWithError("parse failed");
            return;
        }
        adapter.release(document);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus->size));
}

void run_validate(benchmark::State &state, JsonAdapter adapter, const Corpus *corpus) {
    for (auto _ : state) {
        if (!adapter.validate(*corpus)) {
            state.SkipWithError("validation failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus->size));
}

void run_serialize(benchmark::State &state, JsonAdapter adapter, const Corpus *corpus) {
    void *document = adapter.parse(*corpus);
    if (!document) {
        state.SkipWithError("parse failed");
        return;
    }
    size_t produced = 0;
    for (auto _ : state) {
        produced = adapter.serialize(document);
        if (produced == 0) {
            state.SkipWithError("serialize failed");
            break;
        }
    }
    adapter.release(document);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus->size));
    state.counters["output_bytes"] = double(produced);
}

} // namespace

const std::vector<Corpus> &json_bench_corpora() {
    static const std::vector<Corpus> corpora = [] {
        std::vector<Corpus> loaded;
        for (const char *name : corpus_names)
            loaded.push_back(load_corpus(name));
        return loaded;
    }();
    return corpora;
}

void json_bench_register(const JsonAdapter &adapter) {
    for (const Corpus &corpus : json_bench_corpora()) {
        std::string suffix = std::string(adapter.library) + "/" + corpus.name;
        benchmark::RegisterBenchmark(("parse/" + suffix).c_str(), run_parse, adapter, &corpus);
        if (adapter.validate)
            benchmark::RegisterBenchmark(("validate/" + suffix).c_str(), run_validate, adapter,
                                         &corpus);
        benchmark::RegisterBenchmark(("serialize/" + suffix).c_str(), run_serialize, adapter,
                                     &corpus);
    }
}

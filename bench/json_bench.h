// The JSON benchmarks: the same four measurements for every library.
//
// Each library supplies an adapter: parse a corpus into a document it owns, release it,
// serialize it to a growing buffer, and (when it has one) validate without building a document.
// json_bench_register then adds, for each corpus,
//   parse/<library>/<corpus>      text to document and back to nothing, timed together;
//   validate/<library>/<corpus>   the library's validation-only mode, when it has one;
//   serialize/<library>/<corpus>  document to text in a fresh growing buffer.
// Memory is measured elsewhere, one parse per process (json_memory.cpp). Throughput is always counted in corpus bytes, so every library's MB/s is for the same work.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Corpus {
    std::string name;   // file name, such as canada.json
    const char *text;   // NUL-terminated, followed by at least 64 readable zero bytes
    size_t size;        // bytes without the NUL
};

struct JsonAdapter {
    const char *library;
    // Parses the text into a new document, or returns null when the library refuses it.
    void *(*parse)(const Corpus &corpus);
    void (*release)(void *document);
    // Serializes the document; returns the number of bytes produced (0 on failure).
    size_t (*serialize)(void *document);
    // Validates without building a document; null when the library has no such mode.
    bool (*validate)(const Corpus &corpus);
};

// The three corpora, read once from the benchmark data directory.
const std::vector<Corpus> &json_bench_corpora();

void json_bench_register(const JsonAdapter &adapter);

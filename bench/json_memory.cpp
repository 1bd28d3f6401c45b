// Memory as the system sees it: one parse in a fresh process, for any library alike.
//
//   json-memory LIBRARY FILE [COPIES]
//
// The document is the file's text, or with COPIES above 1 an array of that many copies of it.
// After the text is in memory the peak resident size is reset (/proc/self/clear_refs), the
// document is parsed once and held, and the growth of the peak (VmHWM over VmRSS before the
// parse) is printed with the bytes the allocator handed out at the highest point: what the
// malloc wrappers of heap_tracking.cpp counted, and for update-hub the pool's slabs besides.
// One line of JSON, for bench/run.
#include "adapters.h"
#include "file_text.h"
#include "heap_tracking.h"
#include "support/pool/block_pool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// json-c and Jansson export the same names: Jansson has a binary of its own.
std::vector<JsonAdapter> json_memory_adapters() {
#if defined(JSON_MEMORY_JANSSON)
    return {jansson_adapter()};
#else
    return {hub_adapter(),      cjson_adapter(),     json_c_adapter(),
            nlohmann_adapter(), rapidjson_adapter(), simdjson_adapter()};
#endif
}

const size_t CORPUS_PADDING = 64; // simdjson reads up to this far behind the text

// A field of /proc/self/status in bytes, or -1.
long long status_bytes(const char *field) {
    FILE *status = fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long long kilobytes = -1;
    size_t field_length = strlen(field);
    while (fgets(line, sizeof line, status))
        if (strncmp(line, field, field_length) == 0 && line[field_length] == ':')
            kilobytes = atoll(line + field_length + 1);
    fclose(status);
    return kilobytes < 0 ? -1 : kilobytes * 1024;
}

bool reset_peak_resident() {
    FILE *clear = fopen("/proc/self/clear_refs", "w");
    if (!clear) return false;
    bool written = fputs("5", clear) >= 0;
    return fclose(clear) == 0 && written;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: json-memory LIBRARY FILE [COPIES]\n");
        return 64;
    }
    std::string library = argv[1];
    JsonAdapter adapter{};
    bool found = false;
    for (JsonAdapter candidate : json_memory_adapters())
        if (library == candidate.library) {
            adapter = candidate;
            found = true;
        }
    std::string corpus_text = read_file_text(argv[2]);
    int copies = argc > 3 ? atoi(argv[3]) : 1;
    if (!found || corpus_text.empty() || copies < 1) {
        fprintf(stderr, "json-memory: unknown library, unreadable file or bad count\n");
        return 64;
    }
    std::string document;
    if (copies == 1) {
        document.swap(corpus_text);
    } else {
        document.reserve(size_t(copies) * (corpus_text.size() + 2) + 2);
        document.push_back('[');
        for (int copy = 0; copy < copies; ++copy) {
            if (copy) document.append(",\n", 2);
            document.append(corpus_text);
        }
        document.push_back(']');
    }
    size_t size = document.size();
    char *text = static_cast<char *>(calloc(size + CORPUS_PADDING + 1, 1));
    if (!text) return 1;
    memcpy(text, document.data(), size);
    document = std::string();
    corpus_text = std::string();
    Corpus corpus{argv[2], text, size};

    if (!reset_peak_resident()) {
        fprintf(stderr, "json-memory: cannot reset the peak resident size\n");
        return 1;
    }
    long long resident_before = status_bytes("VmRSS");
    heap_tracking_begin();
    void *parsed = adapter.parse(corpus);
    size_t handed_out = heap_tracking_end();
    long long peak_resident = status_bytes("VmHWM");
    if (!parsed) {
        fprintf(stderr, "json-memory: %s refused the document\n", library.c_str());
        return 1;
    }
    if (library == "update-hub") handed_out += mem_pool_slab_bytes();
    printf("{\"library\": \"%s\", \"file\": \"%s\", \"copies\": %d, \"input_bytes\": %zu, "
           "\"resident_growth\": %lld, \"handed_out\": %zu}\n",
           library.c_str(), argv[2], copies, size, peak_resident - resident_before, handed_out);
    adapter.release(parsed);
    free(text);
    return 0;
}

// update-hub's own JSON library.
#include "adapters.h"

#include "json/json.h"

#include <cstdlib>
#include <cstring>

namespace {

void *parse(const Corpus &corpus) {
    const char *end = nullptr;
    JsonValue *root = nullptr;
    return json_parse(corpus.text, &end, &root) == 0 ? root : nullptr;
}

void release(void *document) {
    JsonValue *root = static_cast<JsonValue *>(document);
    json_free(&root);
}

// The output buffer grows as RapidJSON's StringBuffer does (from 256 bytes, by half, with
// realloc), so that both writers pay the same for their output. A std::string, which copies on
// every growth, made the sink a large and allocator-dependent share of the time.
struct OutputBuffer {
    char *data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    ~OutputBuffer() { free(data); }
};

int append_to_buffer(const char *text, int count, void *context) {
    auto *output = static_cast<OutputBuffer *>(context);
    size_t needed = output->size + size_t(count);
    if (needed > output->capacity) {
        size_t capacity = output->capacity ? output->capacity : 256;
        while (capacity < needed)
            capacity += (capacity + 1) / 2;
        void *grown = realloc(output->data, capacity);
        if (!grown) return 1;
        output->data = static_cast<char *>(grown);
        output->capacity = capacity;
    }
    memcpy(output->data + output->size, text, size_t(count));
    output->size = needed;
    return 0;
}

size_t serialize(void *document) {
    OutputBuffer output;
    if (json_serialize(static_cast<JsonValue *>(document), append_to_buffer, &output) != 0)
        return 0;
    return output.size;
}

bool validate(const Corpus &corpus) {
    const char *end = nullptr;
    return json_parse(corpus.text, &end, nullptr) == 0;
}

} // namespace

JsonAdapter hub_adapter(const char *label) {
    return {label, parse, release, serialize, validate};
}

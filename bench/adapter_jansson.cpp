// Jansson: reference-counted json_t trees.
#include "adapters.h"

#include <cstdlib>
#include <cstring>
#include <jansson.h>

namespace {

void *parse(const Corpus &corpus) {
    json_error_t error;
    return json_loadb(corpus.text, corpus.size, 0, &error);
}

void release(void *document) {
    json_decref(static_cast<json_t *>(document));
}

size_t serialize(void *document) {
    char *text = json_dumps(static_cast<json_t *>(document), JSON_COMPACT);
    if (!text) return 0;
    size_t length = strlen(text);
    free(text);
    return length;
}

} // namespace

JsonAdapter jansson_adapter() {
    return {"Jansson", parse, release, serialize, nullptr};
}

// cJSON: a tree of cJSON items; numbers are converted to double while parsing.
#include "adapters.h"

#include <cjson/cJSON.h>
#include <cstring>

namespace {

void *parse(const Corpus &corpus) {
    return cJSON_ParseWithLength(corpus.text, corpus.size);
}

void release(void *document) {
    cJSON_Delete(static_cast<cJSON *>(document));
}

size_t serialize(void *document) {
    char *text = cJSON_PrintUnformatted(static_cast<cJSON *>(document));
    if (!text) return 0;
    size_t length = strlen(text);
    cJSON_free(text);
    return length;
}

} // namespace

JsonAdapter cjson_adapter() {
    return {"cJSON", parse, release, serialize, nullptr};
}

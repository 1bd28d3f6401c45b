// update-hub's own JSON library.
#include "adapters.h"

#include "json/json.h"

#include <string>

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

int append_to_string(const char *text, int count, void *context) {
    static_cast<std::string *>(context)->append(text, size_t(count));
    return 0;
}

size_t serialize(void *document) {
    std::string output;
    if (json_serialize(static_cast<JsonValue *>(document), append_to_string, &output) != 0)
        return 0;
    return output.size();
}

bool validate(const Corpus &corpus) {
    const char *end = nullptr;
    return json_parse(corpus.text, &end, nullptr) == 0;
}

} // namespace

JsonAdapter hub_adapter(const char *label) {
    return {label, parse, release, serialize, validate};
}

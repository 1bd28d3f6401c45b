// json-c: reference-counted json_object trees. Serializing reuses a print buffer kept in the
// root object, which is how json-c always serializes.
#include "adapters.h"

#include <json-c/json.h>

namespace {

void *parse(const Corpus &corpus) {
    return json_tokener_parse(corpus.text);
}

void release(void *document) {
    json_object_put(static_cast<json_object *>(document));
}

size_t serialize(void *document) {
    size_t length = 0;
    const char *text = json_object_to_json_string_length(static_cast<json_object *>(document),
                                                         JSON_C_TO_STRING_PLAIN, &length);
    return text ? length : 0;
}

} // namespace

JsonAdapter json_c_adapter() {
    return {"json-c", parse, release, serialize, nullptr};
}

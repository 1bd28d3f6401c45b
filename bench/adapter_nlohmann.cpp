// nlohmann/json: a tree of nlohmann::json values with std::map objects.
#include "adapters.h"

#include <nlohmann/json.hpp>

namespace {

void *parse(const Corpus &corpus) {
    try {
        return new nlohmann::json(nlohmann::json::parse(corpus.text, corpus.text + corpus.size));
    } catch (const nlohmann::json::exception &) {
        return nullptr;
    }
}

void release(void *document) {
    delete static_cast<nlohmann::json *>(document);
}

size_t serialize(void *document) {
    return static_cast<nlohmann::json *>(document)->dump().size();
}

bool validate(const Corpus &corpus) {
    return nlohmann::json::accept(corpus.text, corpus.text + corpus.size);
}

} // namespace

JsonAdapter nlohmann_adapter() {
    return {"nlohmann", parse, release, serialize, validate};
}

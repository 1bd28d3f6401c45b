// simdjson: its DOM parser. A fresh parser per document, so that the document owns what it
// uses; the corpus carries the padding simdjson reads past the text, so nothing is copied.
#include "adapters.h"

#include <simdjson.h>

namespace {

struct Document {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
};

void *parse(const Corpus &corpus) {
    auto *document = new Document;
    if (document->parser.parse(corpus.text, corpus.size, false).get(document->root)) {
        delete document;
        return nullptr;
    }
    return document;
}

void release(void *document) {
    delete static_cast<Document *>(document);
}

size_t serialize(void *document) {
    return simdjson::minify(static_cast<Document *>(document)->root).size();
}

} // namespace

JsonAdapter simdjson_adapter() {
    return {"simdjson", parse, release, serialize, nullptr};
}

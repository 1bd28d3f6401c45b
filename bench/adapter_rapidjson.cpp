// RapidJSON: its DOM (Document with the default pool allocator) for parse and serialize, its
// SAX reader with a handler that keeps nothing for validation.
#include "adapters.h"

#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

void *parse(const Corpus &corpus) {
    auto *document = new rapidjson::Document;
    document->Parse(corpus.text, corpus.size);
    if (document->HasParseError()) {
        delete document;
        return nullptr;
    }
    return document;
}

void release(void *document) {
    delete static_cast<rapidjson::Document *>(document);
}

size_t serialize(void *document) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    if (!static_cast<rapidjson::Document *>(document)->Accept(writer)) return 0;
    return buffer.GetSize();
}

bool validate(const Corpus &corpus) {
    rapidjson::Reader reader;
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::MemoryStream stream(corpus.text, corpus.size);
    return !reader.Parse(stream, handler).IsError();
}

} // namespace

JsonAdapter rapidjson_adapter() {
    return {"RapidJSON", parse, release, serialize, validate};
}

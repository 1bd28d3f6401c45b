#include "json_document.h"

#include <gtest/gtest.h>

namespace {

int append_to(const char *text, int count, void *context) {
    static_cast<std::string *>(context)->append(text, size_t(count));
    return 0;
}

} // namespace

Document::Document(const std::string &text) {
    const char *end = nullptr;
    EXPECT_EQ(json_parse(text.c_str(), &end, &root), 0) << text;
}

std::string RecordingSink::text() const {
    std::string all;
    for (const std::string &call : calls)
        all += call;
    return all;
}

std::vector<size_t> RecordingSink::sizes() const {
    std::vector<size_t> sizes;
    for (const std::string &call : calls)
        sizes.push_back(call.size());
    return sizes;
}

int record(const char *text, int count, void *context) {
    auto *sink = static_cast<RecordingSink *>(context);
    sink->calls.emplace_back(text, size_t(count));
    return sink->calls.size() == sink->failing_call ? sink->failure : 0;
}

std::string written(const JsonValue *value) {
    std::string text;
    EXPECT_EQ(json_serialize(value, append_to, &text), 0);
    return text;
}

std::string describe(const JsonValue *value) {
    uint32_t length = 0;
    const char *text = json_text(value, &length);
    if (text) {
        std::string bytes(text, length);
        return json_type(value) == JSON_STRING ? "'" + bytes + "'" : bytes;
    }
    bool is_array = json_type(value) == JSON_ARRAY;
    std::string out = is_array ? "[" : "{";
    JsonValue *member_value = nullptr;
    JsonCursor cursor = nullptr;
    for (JsonValue *child = json_first(value, &member_value, &cursor); child;
         child = json_next(value, &member_value, &cursor)) {
        if (out.size() > 1) out += ',';
        out += describe(child);
        if (!is_array) out += ':' + describe(member_value);
    }
    return out + (is_array ? "]" : "}");
}

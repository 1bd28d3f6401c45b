// Parsing: building and validating agree on the status and the end position, and a document
// built from any text is complete and freed whole. json_parse_length reads the fuzzer's own
// buffer, which has no byte behind it, and agrees with json_parse when the text holds no zero
// byte; its strict grammar builds and validates alike too.
#include "fuzz_support.h"

#include <cstdio>
#include <cstring>

namespace {

// json_parse_length on the bytes themselves: status, end and root; building and validating
// agree and nothing leaks.
int parse_sized(const uint8_t *data, size_t size, unsigned flags, const char **end,
                std::string *described) {
    const char *text = reinterpret_cast<const char *>(data);
    long live = mem_live_blocks();
    JsonValue *root = nullptr;
    int status = json_parse_length(text, size, flags, end, &root);
    FUZZ_CHECK(*end >= text && *end <= text + size);
    FUZZ_CHECK((status == 0) == (root != nullptr));
    if (root) *described = serialized(root);
    json_free(&root);
    FUZZ_CHECK(mem_live_blocks() == live);
    const char *checked_end = nullptr;
    unsigned long calls = mem_allocation_calls();
    FUZZ_CHECK(json_parse_length(text, size, flags, &checked_end, nullptr) == status);
    FUZZ_CHECK(mem_allocation_calls() == calls);
    FUZZ_CHECK(checked_end == *end);
    return status;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = as_text(data, size);
    long live = mem_live_blocks();
    const char *built_end = nullptr;
    JsonValue *root = nullptr;
    int built = json_parse(text.c_str(), &built_end, &root);
    std::string built_document = root ? serialized(root) : "";
    const char *checked_end = nullptr;
    unsigned long calls = mem_allocation_calls();
    int checked = json_parse(text.c_str(), &checked_end, nullptr);
    FUZZ_CHECK(mem_allocation_calls() == calls);
    FUZZ_CHECK(built == checked);
    FUZZ_CHECK(built_end == checked_end);
    FUZZ_CHECK((built == 0) == (root != nullptr));
    if (root) FUZZ_CHECK(json_type(root) == JSON_ARRAY || json_type(root) == JSON_OBJECT);
    json_free(&root);
    FUZZ_CHECK(mem_live_blocks() == live);

    const char *value_end = nullptr;
    JsonValue *value = nullptr;
    int status = json_parse_value(text.c_str(), &value_end, &value);
    FUZZ_CHECK((value != nullptr) == (status >= int(JSON_NULL) && status <= int(JSON_OBJECT)));
    json_free(&value);

    const char *sized_end = nullptr;
    std::string sized_document;
    int sized = parse_sized(data, size, 0, &sized_end, &sized_document);
    if (size >= 2 && !memchr(data, 0, size)) {
        FUZZ_CHECK(sized == built);
        FUZZ_CHECK(sized_end - reinterpret_cast<const char *>(data) == built_end - text.c_str());
        FUZZ_CHECK(sized_document == built_document);
    }
    parse_sized(data, size, JSON_PARSE_STRICT, &sized_end, &sized_document);
    return 0;
}

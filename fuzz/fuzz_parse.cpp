// Parsing: building and validating agree on the status and the end position, and a document
// built from any text is complete and freed whole.
#include "fuzz_support.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = as_text(data, size);
    long live = mem_live_blocks();
    const char *built_end = nullptr;
    JsonValue *root = nullptr;
    int built = json_parse(text.c_str(), &built_end, &root);
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
    return 0;
}

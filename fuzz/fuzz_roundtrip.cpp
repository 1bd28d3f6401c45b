// Writing: a parsed document written, parsed again and written again gives the same bytes.
#include "fuzz_support.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = as_text(data, size);
    const char *end = nullptr;
    JsonValue *first = nullptr;
    if (json_parse(text.c_str(), &end, &first) != 0) return 0;
    std::string written = serialized(first);
    FUZZ_CHECK(!written.empty());
    JsonValue *second = nullptr;
    FUZZ_CHECK(json_parse(written.c_str(), &end, &second) == 0);
    FUZZ_CHECK(*end == '\0');
    FUZZ_CHECK(serialized(second) == written);
    json_free(&first);
    json_free(&second);
    return 0;
}

// Small helpers shared by the fuzz targets.
#pragma once

#include "support/memory.h"
#include "support/text_buffer.h"
#include "json/json.h"

#include <cstdlib>
#include <string>

// Stops the run when a property does not hold, so that libFuzzer records the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);      \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// The fuzzer's bytes as a zero-terminated text (stopping at a zero byte inside, as the parser
// would).
inline std::string as_text(const uint8_t *data, size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size).c_str();
}

// A document serialised to a string; "" when writing failed.
inline std::string serialized(const JsonValue *value) {
    TextBuffer text;
    text_buffer_init(&text);
    int status = json_serialize(value, text_buffer_sink, &text);
    std::string result = status == 0 ? std::string(text.data, text.length) : "";
    mem_free(text.data);
    return result;
}

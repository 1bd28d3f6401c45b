// A response turned into the updater's command line: whenever a line is composed, its version
// argument is one quoted word that the command interpreter passes on unchanged.
#include "fuzz_support.h"
#include "hub/platform.h"
#include "hub/updater.h"

#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = as_text(data, size);
    const char *end = nullptr;
    JsonValue *response = nullptr;
    if (json_parse(text.c_str(), &end, &response) != 0) return 0;
    TextBuffer prefix;
    TextBuffer arguments;
    TextBuffer line;
    text_buffer_init(&prefix);
    text_buffer_init(&arguments);
    text_buffer_init(&line);
    text_buffer_append(&prefix, "ravcpy.exe -s ", 14);
    text_buffer_append(&arguments, "-x ", 3);
    int status = compose_updater_command_line(&line, &prefix, response, &arguments);
    FUZZ_CHECK(status == 0 || status == 22 || status == 12);
    if (status == 0) {
        const char *version = strstr(line.data, "\"-ver:");
        FUZZ_CHECK(version == line.data + 17);
        uint32_t inside_start = 17 + 6;
        uint32_t inside_length = line.length - 2 - inside_start;
        FUZZ_CHECK(line.data[line.length - 2] == '"' && line.data[line.length - 1] == '\0');
        FUZZ_CHECK(memchr(line.data + inside_start, '"', inside_length) == nullptr);
        FUZZ_CHECK(memchr(line.data + inside_start, '\0', inside_length) == nullptr);
        FUZZ_CHECK(platform_safe_in_quotes(line.data + inside_start, inside_length));
    }
    mem_free(prefix.data);
    mem_free(arguments.data);
    mem_free(line.data);
    json_free(&response);
    return 0;
}

// A response turned into the updater's command line: what the updater receives equals what the
// response says, byte for byte, or the run is refused, and refused only for a byte that cannot
// be carried. The fuzz build runs on Linux, so the shell's reading of the double-quoted version
// argument is replayed here.
#include "fuzz_support.h"
#include "hub/updater.h"

#include <cstdio>
#include <cstring>

namespace {

const char PREFIX[] = "ravcpy.exe -s ";
const char ARGUMENTS[] = "-x ";
const std::string ARGUMENT_START = std::string(PREFIX) + ARGUMENTS + "\"-ver:";

bool append_text(std::string *out, const JsonValue *object, const char *key, uint32_t type,
                 const char *suffix) {
    JsonValue *member = nullptr;
    if (json_object_get(&member, object, key, type) != 0) return false;
    uint32_t length = 0;
    const char *text = json_text(member, &length);
    out->append(text, length);
    out->append(suffix);
    return true;
}

// The version argument's text as the response says it; false when a member is missing,
// mistyped or empty.
bool version_text(const JsonValue *response, std::string *out) {
    JsonValue *modules = nullptr;
    if (!append_text(out, response, "kavor", JSON_STRING, "@") ||
        json_object_get(&modules, response, "modules", JSON_ARRAY) != 0)
        return false;
    JsonCursor cursor = nullptr;
    for (JsonValue *module = json_first(modules, nullptr, &cursor); module;) {
        JsonValue *following = json_next(modules, nullptr, &cursor);
        JsonValue *version = nullptr;
        if (json_object_get(&version, module, "version", JSON_OBJECT) != 0 ||
            !append_text(out, module, "application", JSON_NUMBER, "|") ||
            !append_text(out, module, "module", JSON_NUMBER, "|") ||
            !append_text(out, version, "mayor", JSON_NUMBER, "|") ||
            !append_text(out, version, "minor", JSON_NUMBER, ".") ||
            !append_text(out, version, "build", JSON_NUMBER, "|") ||
            !append_text(out, module, "path", JSON_STRING, following ? "@" : ""))
            return false;
        module = following;
    }
    return true;
}

// What /bin/sh makes of the inside of a double-quoted word that ends with the text; false when
// the shell would end the word early or expand something.
bool shell_reading(const std::string &quoted, std::string *out) {
    for (size_t i = 0; i < quoted.size(); ++i) {
        char c = quoted[i];
        if (c == '"' || c == '$' || c == '`') return false;
        if (c == '\\' && i + 1 < quoted.size() && strchr("\\$`\"\n", quoted[i + 1])) {
            if (quoted[++i] != '\n') out->push_back(quoted[i]);
            continue;
        }
        if (c == '\\' && i + 1 == quoted.size()) return false; // would escape the closing quote
        out->push_back(c);
    }
    return true;
}

bool holds_refused_byte(const std::string &text) {
    return text.find_first_of(std::string("\"$`\r\n", 5) + '\0') != std::string::npos;
}

} // namespace

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
    text_buffer_append(&prefix, PREFIX, uint32_t(strlen(PREFIX)));
    text_buffer_append(&arguments, ARGUMENTS, uint32_t(strlen(ARGUMENTS)));
    int status = compose_updater_command_line(&line, &prefix, response, &arguments);
    FUZZ_CHECK(status == 0 || status == 22 || status == 12);
    std::string expected;
    bool composable = version_text(response, &expected);
    if (status == 0) {
        FUZZ_CHECK(composable);
        std::string composed(line.data, line.length);
        FUZZ_CHECK(composed.compare(0, ARGUMENT_START.size(), ARGUMENT_START) == 0);
        FUZZ_CHECK(line.data[line.length - 2] == '"' && line.data[line.length - 1] == '\0');
        std::string quoted =
            composed.substr(ARGUMENT_START.size(), composed.size() - 2 - ARGUMENT_START.size());
        std::string received;
        FUZZ_CHECK(shell_reading(quoted, &received));
        FUZZ_CHECK(received == expected);
    } else if (status == 22) {
        FUZZ_CHECK(!composable || holds_refused_byte(expected));
    }
    mem_free(prefix.data);
    mem_free(arguments.data);
    mem_free(line.data);
    json_free(&response);
    return 0;
}

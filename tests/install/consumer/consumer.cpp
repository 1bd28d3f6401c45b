// A program of another project that uses update-hub's JSON library: it parses a document, reads
// a member, edits the document and writes it to standard output.
#include "json.h"

#include <cstdio>

// Only the library's own header is visible, not the rest of update-hub's sources.
#if __has_include("support/text_buffer.h") || __has_include("json/json.h")
#error "update-hub's source folder is an include path of its consumers"
#endif

namespace {

int write_to_stdout(const char *text, int count, void *) {
    return fwrite(text, 1, size_t(count), stdout) == size_t(count) ? 0 : 1;
}

} // namespace

int main() {
    JsonValue *root = nullptr;
    const char *end = nullptr;
    if (json_parse("{\"name\": \"consumer\", \"list\": [1]}", &end, &root) != 0) return 1;
    JsonValue *name = nullptr;
    if (json_object_get(&name, root, "name", JSON_STRING) != 0) return 2;
    printf("%s\n", json_text(name, nullptr));
    if (json_object_set(root, "list", "[1, 2.50]") != 0) return 3;
    int status = json_serialize(root, write_to_stdout, nullptr);
    printf("\n");
    json_free(&root);
    return status;
}

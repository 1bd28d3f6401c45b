/* A C program of another project that uses update-hub's JSON library: it parses a document,
   reads a member by a pointer, edits the document and writes it to standard output. */
#include "json.h"

#include <stdio.h>

static int write_to_stdout(const char *text, int count, void *context) {
    (void)context;
    return fwrite(text, 1, (size_t)count, stdout) == (size_t)count ? 0 : 1;
}

int main(void) {
    JsonValue *root = NULL;
    JsonValue *name = NULL;
    const char *end = NULL;
    int status;
    if (json_parse("{\"name\": \"consumer\", \"list\": [1]}", &end, &root) != 0) return 1;
    if (json_pointer_get(&name, root, "/name") != 0 || json_type(name) != JSON_STRING) return 2;
    printf("%s\n", json_text(name, NULL));
    if (json_object_set(root, "list", "[1, 2.50]") != 0) return 3;
    status = json_serialize(root, write_to_stdout, NULL);
    printf("\n");
    json_free(&root);
    return status;
}

/* example-config FILE POINTER: reads the JSON configuration FILE, prints the value POINTER
   names (a JSON Pointer such as /updater/timeout) on one line, and writes FILE back indented by
   two blanks. Exits with 0, 1 (FILE cannot be read or written, or is no JSON document) or 2
   (nothing at POINTER, or POINTER is none). A C program of the JSON library's users. */
#include "json.h"

#include <stdio.h>
#include <stdlib.h>

static int write_to_file(const char *text, int count, void *file) {
    return fwrite(text, 1, (size_t)count, (FILE *)file) == (size_t)count ? 0 : 1;
}

/* The whole file as a NUL-terminated text, or null. */
static char *read_file(const char *name) {
    FILE *file = fopen(name, "rb");
    char *text = NULL;
    size_t length = 0, capacity = 0;
    if (!file) return NULL;
    for (;;) {
        if (capacity - length < 4096) {
            char *grown = realloc(text, capacity + 65536);
            if (!grown) break;
            text = grown;
            capacity += 65536;
        }
        size_t got = fread(text + length, 1, capacity - length - 1, file);
        length += got;
        if (got == 0) {
            if (ferror(file)) break;
            text[length] = '\0';
            fclose(file);
            return text;
        }
    }
    free(text);
    fclose(file);
    return NULL;
}

int main(int argc, char **argv) {
    JsonValue *root = NULL, *value = NULL;
    const char *end = NULL;
    FILE *output;
    char *text;
    int status;
    if (argc != 3) {
        fprintf(stderr, "usage: example-config FILE POINTER\n");
        return 2;
    }
    text = read_file(argv[1]);
    if (!text) {
        fprintf(stderr, "%s cannot be read\n", argv[1]);
        return 1;
    }
    status = json_parse(text, &end, &root);
    if (status != 0) {
        fprintf(stderr, "%s is no JSON document (byte %ld)\n", argv[1], (long)(end - text));
        free(text);
        return 1;
    }
    free(text);
    if (json_pointer_get(&value, root, argv[2]) != 0) {
        fprintf(stderr, "nothing at %s\n", argv[2]);
        json_free(&root);
        return 2;
    }
    status = json_serialize_compact(value, write_to_file, stdout);
    printf("\n");
    output = fopen(argv[1], "wb");
    if (status == 0 && output) status = json_serialize_pretty(root, 2, write_to_file, output);
    if (status == 0 && output) status = fputc('\n', output) == EOF;
    if (output && fclose(output) != 0) status = 1;
    json_free(&root);
    if (!output || status != 0) {
        fprintf(stderr, "%s cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}

// One fixed piece of work for the instruction counter (valgrind --tool=callgrind), which,
// unlike timings, gives the same figure on every run:
//
//   json-workload parse|validate|serialize|parse-length|validate-length|parse-strict FILE [TIMES]
//
// parse: json_parse and json_free; validate: json_parse without a root; serialize: json_parse
// once, then json_serialize to a growing buffer; parse-length and validate-length: the same as
// parse and validate with json_parse_length (flags 0) on the file's bytes; parse-strict:
// json_parse_length with JSON_PARSE_STRICT. Each repeated TIMES times (default 1).
#include "file_text.h"
#include "json/json.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int append_to_string(const char *text, int count, void *context) {
    static_cast<std::string *>(context)->append(text, size_t(count));
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: json-workload parse|validate|serialize|parse-length|"
                        "validate-length|parse-strict FILE [TIMES]\n");
        return 64;
    }
    std::string text = read_file_text(argv[2]);
    int times = argc > 3 ? atoi(argv[3]) : 1;
    const char *end = nullptr;
    JsonValue *root = nullptr;
    int status = 0;
    if (strcmp(argv[1], "parse") == 0) {
        for (int i = 0; i < times && status == 0; ++i) {
            status = json_parse(text.c_str(), &end, &root);
            json_free(&root);
        }
    } else if (strcmp(argv[1], "validate") == 0) {
        for (int i = 0; i < times && status == 0; ++i)
            status = json_parse(text.c_str(), &end, nullptr);
    } else if (strcmp(argv[1], "parse-length") == 0 || strcmp(argv[1], "parse-strict") == 0) {
        unsigned flags = strcmp(argv[1], "parse-strict") == 0 ? JSON_PARSE_STRICT : 0;
        for (int i = 0; i < times && status == 0; ++i) {
            status = json_parse_length(text.data(), text.size(), flags, &end, &root);
            json_free(&root);
        }
    } else if (strcmp(argv[1], "validate-length") == 0) {
        for (int i = 0; i < times && status == 0; ++i)
            status = json_parse_length(text.data(), text.size(), 0, &end, nullptr);
    } else if (strcmp(argv[1], "serialize") == 0) {
        status = json_parse(text.c_str(), &end, &root);
        for (int i = 0; i < times && status == 0; ++i) {
            std::string output;
            status = json_serialize(root, append_to_string, &output);
        }
        json_free(&root);
    } else {
        fprintf(stderr, "json-workload: unknown work %s\n", argv[1]);
        return 64;
    }
    if (status != 0) fprintf(stderr, "json-workload: status %d\n", status);
    return status == 0 ? 0 : 1;
}

// JSON helpers shared by the tests: a parsed document that frees itself, a sink that records
// what it is given, and a document written out as text.
#pragma once

#include "json/json.h"

#include <string>
#include <vector>

// A document parsed from text (the test fails if it does not parse), freed at the end.
struct Document {
    JsonValue *root = nullptr;
    explicit Document(const std::string &text);
    ~Document() { json_free(&root); }
    Document(Document &&other) noexcept : root(other.root) { other.root = nullptr; }
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;

    JsonArray *array() const { return static_cast<JsonArray *>(root->payload); }
    JsonObject *object() const { return static_cast<JsonObject *>(root->payload); }
};

// A JsonSink context that keeps every call's bytes and can be told to refuse one call.
struct RecordingSink {
    std::vector<std::string> calls;
    size_t failing_call = 0; // 1-based; 0: accept every call
    int failure = 5;         // what the failing call returns

    std::string text() const;
    std::vector<size_t> sizes() const;
};

// The JsonSink that fills a RecordingSink.
int record(const char *text, int count, void *context);

// The value written by json_serialize (the test fails if writing fails).
std::string written(const JsonValue *value);

// The values of a document as plain text ('string', number, [..], {key:value}), built from the
// accessors only: a string's zero bytes and exact length show, and nothing is allocated through
// the library's heap, so allocation sweeps can call it between their runs.
std::string describe(const JsonValue *value);

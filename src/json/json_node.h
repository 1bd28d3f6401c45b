// Node allocation shared by the parser and the editing operations (not part of json.h).
//
// Each node is a single zero-filled block: the JsonValue header, then the payload of its kind,
// then, for strings and numbers, the text bytes and a NUL.
#pragma once

#include "json.h"

// Whether a status carries an error bit.
inline bool json_is_failure(int status) { return (status & (JSON_ENOMEM | JSON_ESYNTAX)) != 0; }

// A string or number node with room for length text bytes and a NUL, or null without memory.
JsonValue *json_new_text_node(uint32_t type, uint32_t length);

// A literal node referring to its entry of json_literals, or null without memory.
JsonValue *json_new_literal_node(const JsonLiteral *literal);

// An empty array or object node, or null without memory.
JsonValue *json_new_array_node();
JsonValue *json_new_object_node();

// The slot of a member whose key text equals key (binary search), or null.
JsonMember **json_object_find_slot(const JsonObject *object, const char *key);

// The payload of a node of the matching kind.
inline JsonText *json_text_payload(const JsonValue *value) {
    return static_cast<JsonText *>(value->payload);
}
inline JsonArray *json_array_payload(const JsonValue *value) {
    return static_cast<JsonArray *>(value->payload);
}
inline JsonObject *json_object_payload(const JsonValue *value) {
    return static_cast<JsonObject *>(value->payload);
}
inline const JsonLiteral *json_literal_payload(const JsonValue *value) {
    return *static_cast<const JsonLiteral *const *>(value->payload);
}

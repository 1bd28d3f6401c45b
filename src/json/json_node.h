// Node allocation shared by the parser, the editing operations and json_free (not part of json.h).
//
// Each node is a single block: the JsonValue header, then the payload of its kind, then, for
// strings and numbers, the text bytes and a NUL. Every block of a document (nodes, cells,
// members, vectors) is taken and given back here with its size, so that the heap behind them
// needs no per-block header. A new block is zero-filled except for the bytes its maker writes
// at once: the text of a string or number node, and the slots of a vector.
#pragma once

#include "json.h"

#include <cstddef>

// Whether a status carries an error bit.
inline bool json_is_failure(int status) {
    return (status & (JSON_ENOMEM | JSON_ESYNTAX)) != 0;
}

// The longest text a string or number node holds: its length field is 32 bits, and the node's
// size must fit too. A longer text is refused with JSON_ENOMEM.
inline constexpr uint64_t JSON_TEXT_MAX = UINT32_MAX - 64;

// A string or number node with room for length text bytes and a NUL (the NUL is written; the
// caller writes the text), or null without memory.
JsonValue *json_new_text_node(uint32_t type, uint32_t length);

// A literal node referring to its entry of json_literals, or null without memory.
JsonValue *json_new_literal_node(const JsonLiteral *literal);

// An empty array or object node, or null without memory.
JsonValue *json_new_array_node();
JsonValue *json_new_object_node();

// Gives back one node's own block (not its children, cells, members or vector).
void json_release_node(JsonValue *node);

// A cell holding value, or a member holding key and value; null without memory.
JsonCell *json_new_cell(JsonValue *value);
JsonMember *json_new_member(JsonValue *key, JsonValue *value);
void json_release_cell(JsonCell *cell);
void json_release_member(JsonMember *member);

// Grows a vector of capacity references by 32 slots; null without memory (the old vector stays).
void **json_grow_vector(void **slots, uint32_t capacity);
void json_release_vector(void **slots, uint32_t capacity);

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

// Where a node's payload lies: right behind its header, whatever its payload field holds (json_free
// lends that field to its walk).
inline void *json_payload_behind(JsonValue *node) {
    return node + 1;
}

// Node allocation shared by the parser, the editing operations and json_free (not part of json.h).
//
// Each node is a single block: the JsonValue header, then the payload of its kind, then, for
// strings and numbers, the text bytes and a NUL. Every block of a document (nodes, cells,
// members, vectors) is taken and given back here with its size, so that the heap behind them
// needs no per-block header. A new block is zero-filled except for the bytes its maker writes
// at once: the text of a string or number node, and the slots of a vector.
#pragma once

#include "json.h"
#include "support/block_pool.h"

#include <cstddef>

// Whether a status carries an error bit.
inline bool json_is_failure(int status) {
    return (status & (JSON_ENOMEM | JSON_ESYNTAX)) != 0;
}

// The longest text a string or number node holds: its length field is 32 bits, and the node's
// size must fit too. A longer text is refused with JSON_ENOMEM.
inline constexpr uint64_t JSON_TEXT_MAX = UINT32_MAX - 64;

// The makers and releasers are inline: the parser and json_free call them for every block, and
// the block pool's fast paths are a few instructions, so a call would cost as much as the work.
// Blocks come from the block pool, which needs their size back when they are freed.

struct JsonTextNode {
    JsonValue header;
    JsonText payload;
};

struct JsonLiteralNode {
    JsonValue header;
    const JsonLiteral *literal;
};

struct JsonArrayNode {
    JsonValue header;
    JsonArray payload;
};

struct JsonObjectNode {
    JsonValue header;
    JsonObject payload;
};

static_assert(offsetof(JsonTextNode, payload) == sizeof(JsonValue));
static_assert(offsetof(JsonArrayNode, payload) == sizeof(JsonValue));
static_assert(offsetof(JsonObjectNode, payload) == sizeof(JsonValue));

inline constexpr uint32_t JSON_VECTOR_STEP = 32;

inline size_t json_text_node_size(uint32_t length) {
    return sizeof(JsonTextNode) + size_t(length) + 1;
}

// A string or number node with room for length text bytes and a NUL (the NUL is written; the
// caller writes the text), or null without memory.
inline JsonValue *json_new_text_node(uint32_t type, uint32_t length) {
    auto *node = static_cast<JsonTextNode *>(mem_pool_alloc(json_text_node_size(length)));
    if (!node) return nullptr;
    *node = JsonTextNode{};
    node->header.type = type;
    node->header.payload = &node->payload;
    node->payload.text = reinterpret_cast<char *>(node + 1);
    node->payload.length = length;
    node->payload.text[length] = '\0';
    return &node->header;
}

// A literal node referring to its entry of json_literals, or null without memory.
inline JsonValue *json_new_literal_node(const JsonLiteral *literal) {
    auto *node = static_cast<JsonLiteralNode *>(mem_pool_alloc(sizeof(JsonLiteralNode)));
    if (!node) return nullptr;
    *node = JsonLiteralNode{};
    node->header.type = literal->type;
    node->header.payload = &node->literal;
    node->literal = literal;
    return &node->header;
}

// An empty array or object node, or null without memory.
inline JsonValue *json_new_array_node() {
    auto *node = static_cast<JsonArrayNode *>(mem_pool_alloc(sizeof(JsonArrayNode)));
    if (!node) return nullptr;
    *node = JsonArrayNode{};
    node->header.type = JSON_ARRAY;
    node->header.payload = &node->payload;
    return &node->header;
}

inline JsonValue *json_new_object_node() {
    auto *node = static_cast<JsonObjectNode *>(mem_pool_alloc(sizeof(JsonObjectNode)));
    if (!node) return nullptr;
    *node = JsonObjectNode{};
    node->header.type = JSON_OBJECT;
    node->header.payload = &node->payload;
    return &node->header;
}

// The size a node's block was allocated with.
inline size_t json_node_size(const JsonValue *node) {
    switch (node->type) {
    case JSON_STRING:
    case JSON_NUMBER:
        return json_text_node_size(
            static_cast<const JsonTextNode *>(static_cast<const void *>(node))->payload.length);
    case JSON_ARRAY:
        return sizeof(JsonArrayNode);
    case JSON_OBJECT:
        return sizeof(JsonObjectNode);
    default:
        return sizeof(JsonLiteralNode);
    }
}

// Gives back one node's own block (not its children, cells, members or vector).
inline void json_release_node(JsonValue *node) {
    mem_pool_free(node, json_node_size(node));
}

// A cell holding value, or a member holding key and value; null without memory.
inline JsonCell *json_new_cell(JsonValue *value) {
    auto *cell = static_cast<JsonCell *>(mem_pool_alloc(sizeof(JsonCell)));
    if (cell) cell->value = value;
    return cell;
}

inline JsonMember *json_new_member(JsonValue *key, JsonValue *value) {
    auto *member = static_cast<JsonMember *>(mem_pool_alloc(sizeof(JsonMember)));
    if (member) *member = JsonMember{key, value};
    return member;
}

inline void json_release_cell(JsonCell *cell) {
    mem_pool_free(cell, sizeof(JsonCell));
}

inline void json_release_member(JsonMember *member) {
    mem_pool_free(member, sizeof(JsonMember));
}

// Grows a vector of capacity references by 32 slots; null without memory (the old vector stays).
inline void **json_grow_vector(void **slots, uint32_t capacity) {
    size_t size = size_t(capacity) * sizeof(void *);
    return static_cast<void **>(
        mem_pool_resize(slots, size, size + JSON_VECTOR_STEP * sizeof(void *)));
}

inline void json_release_vector(void **slots, uint32_t capacity) {
    if (slots) mem_pool_free(slots, size_t(capacity) * sizeof(void *));
}

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

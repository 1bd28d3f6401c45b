#include "json_node.h"

#include "support/pool/block_pool.h"

namespace {

struct TextNode {
    JsonValue header;
    JsonText payload;
};

struct LiteralNode {
    JsonValue header;
    const JsonLiteral *literal;
};

struct ArrayNode {
    JsonValue header;
    JsonArray payload;
};

struct ObjectNode {
    JsonValue header;
    JsonObject payload;
};

const uint32_t VECTOR_STEP = 32;

static_assert(offsetof(TextNode, payload) == sizeof(JsonValue));
static_assert(offsetof(ArrayNode, payload) == sizeof(JsonValue));
static_assert(offsetof(ObjectNode, payload) == sizeof(JsonValue));

size_t text_node_size(uint32_t length) {
    return sizeof(TextNode) + size_t(length) + 1;
}

// Every block comes from the block pool, which needs its size back when it is freed.
void *take_block(size_t size) {
    return mem_pool_alloc(size);
}
void give_back_block(void *block, size_t size) {
    mem_pool_free(block, size);
}

size_t node_size(const JsonValue *node) {
    switch (node->type) {
    case JSON_STRING:
    case JSON_NUMBER:
        return text_node_size(
            static_cast<const TextNode *>(static_cast<const void *>(node))->payload.length);
    case JSON_ARRAY:
        return sizeof(ArrayNode);
    case JSON_OBJECT:
        return sizeof(ObjectNode);
    default:
        return sizeof(LiteralNode);
    }
}

} // namespace

JsonValue *json_new_text_node(uint32_t type, uint32_t length) {
    TextNode *node = static_cast<TextNode *>(take_block(text_node_size(length)));
    if (!node) return nullptr;
    *node = TextNode{};
    node->header.type = type;
    node->header.payload = &node->payload;
    node->payload.text = reinterpret_cast<char *>(node + 1);
    node->payload.length = length;
    node->payload.text[length] = '\0';
    return &node->header;
}

JsonValue *json_new_literal_node(const JsonLiteral *literal) {
    LiteralNode *node = static_cast<LiteralNode *>(take_block(sizeof(LiteralNode)));
    if (!node) return nullptr;
    *node = LiteralNode{};
    node->header.type = literal->type;
    node->header.payload = &node->literal;
    node->literal = literal;
    return &node->header;
}

JsonValue *json_new_array_node() {
    ArrayNode *node = static_cast<ArrayNode *>(take_block(sizeof(ArrayNode)));
    if (!node) return nullptr;
    *node = ArrayNode{};
    node->header.type = JSON_ARRAY;
    node->header.payload = &node->payload;
    return &node->header;
}

JsonValue *json_new_object_node() {
    ObjectNode *node = static_cast<ObjectNode *>(take_block(sizeof(ObjectNode)));
    if (!node) return nullptr;
    *node = ObjectNode{};
    node->header.type = JSON_OBJECT;
    node->header.payload = &node->payload;
    return &node->header;
}

void json_release_node(JsonValue *node) {
    give_back_block(node, node_size(node));
}

JsonCell *json_new_cell(JsonValue *value) {
    JsonCell *cell = static_cast<JsonCell *>(take_block(sizeof(JsonCell)));
    if (cell) cell->value = value;
    return cell;
}

JsonMember *json_new_member(JsonValue *key, JsonValue *value) {
    JsonMember *member = static_cast<JsonMember *>(take_block(sizeof(JsonMember)));
    if (member) *member = JsonMember{key, value};
    return member;
}

void json_release_cell(JsonCell *cell) {
    give_back_block(cell, sizeof(JsonCell));
}

void json_release_member(JsonMember *member) {
    give_back_block(member, sizeof(JsonMember));
}

void **json_grow_vector(void **slots, uint32_t capacity) {
    size_t size = size_t(capacity) * sizeof(void *);
    return static_cast<void **>(mem_pool_resize(slots, size, size + VECTOR_STEP * sizeof(void *)));
}

void json_release_vector(void **slots, uint32_t capacity) {
    if (slots) give_back_block(slots, size_t(capacity) * sizeof(void *));
}

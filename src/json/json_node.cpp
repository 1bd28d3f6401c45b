#include "json_node.h"

#include "support/memory.h"

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

} // namespace

JsonValue *json_new_text_node(uint32_t type, uint32_t length) {
    TextNode *node = static_cast<TextNode *>(mem_calloc(1, sizeof(TextNode) + size_t(length) + 1));
    if (!node) return nullptr;
    node->header.type = type;
    node->header.payload = &node->payload;
    node->payload.text = reinterpret_cast<char *>(node + 1);
    node->payload.length = length;
    return &node->header;
}

JsonValue *json_new_literal_node(const JsonLiteral *literal) {
    LiteralNode *node = static_cast<LiteralNode *>(mem_calloc(1, sizeof(LiteralNode)));
    if (!node) return nullptr;
    node->header.type = literal->type;
    node->header.payload = &node->literal;
    node->literal = literal;
    return &node->header;
}

JsonValue *json_new_array_node() {
    ArrayNode *node = static_cast<ArrayNode *>(mem_calloc(1, sizeof(ArrayNode)));
    if (!node) return nullptr;
    node->header.type = JSON_ARRAY;
    node->header.payload = &node->payload;
    return &node->header;
}

JsonValue *json_new_object_node() {
    ObjectNode *node = static_cast<ObjectNode *>(mem_calloc(1, sizeof(ObjectNode)));
    if (!node) return nullptr;
    node->header.type = JSON_OBJECT;
    node->header.payload = &node->payload;
    return &node->header;
}

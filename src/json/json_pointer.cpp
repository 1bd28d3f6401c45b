// JSON Pointer lookup: each "/token" steps into a member by key or an item by index.
#include "json_node.h"

#include <cstring>

namespace {

// Whether the pointer is one: empty, or tokens each after a '/', with '~' only before 0 or 1.
bool is_pointer(const char *pointer) {
    if (*pointer != '\0' && *pointer != '/') return false;
    for (const char *at = pointer; *at; ++at)
        if (*at == '~' && at[1] != '0' && at[1] != '1') return false;
    return true;
}

// The end of the token starting at token: the next '/' or the NUL.
const char *token_end(const char *token) {
    while (*token && *token != '/')
        ++token;
    return token;
}

// Compares the token's decoded bytes with a key's text in strcmp order (the key stops at its
// first zero byte, as the members' order does). *length receives the decoded length.
int compare_token(const char *token, const char *end, const char *key, uint32_t *length) {
    uint32_t decoded = 0;
    for (const char *at = token; at < end; ++at, ++decoded) {
        char c = *at;
        if (c == '~') c = *++at == '1' ? '/' : '~';
        unsigned char k = static_cast<unsigned char>(key[decoded]);
        if (static_cast<unsigned char>(c) != k) return int(static_cast<unsigned char>(c)) - int(k);
    }
    *length = decoded;
    return key[decoded] == '\0' ? 0 : -1;
}

bool member_is_token(const JsonMember *member, const char *token, const char *end) {
    const JsonText *key = json_text_payload(member->key);
    uint32_t length = 0;
    return compare_token(token, end, key->text, &length) == 0 && length == key->length;
}

// The member named by the token, the last written of a key held more than once (as
// json_object_find finds it): in a sorted object, which keeps such members in the order written,
// by binary search for the first key not before it, then along the keys equal to it (a key with
// a zero byte inside sorts as its text up to that byte).
JsonValue *find_member(const JsonObject *object, const char *token, const char *end) {
    uint32_t low = 0, high = object->count;
    JsonValue *found = nullptr;
    if (object->flags & JSON_NEEDS_SORT) {
        for (; low < high; ++low)
            if (member_is_token(object->members[low], token, end))
                found = object->members[low]->value;
        return found;
    }
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        uint32_t length = 0;
        if (compare_token(token, end, json_text_payload(object->members[middle]->key)->text,
                          &length) > 0)
            low = middle + 1;
        else
            high = middle;
    }
    for (; low < object->count; ++low) {
        uint32_t length = 0;
        const JsonMember *member = object->members[low];
        if (compare_token(token, end, json_text_payload(member->key)->text, &length) != 0) break;
        if (length == json_text_payload(member->key)->length) found = member->value;
    }
    return found;
}

// The item named by the token: "0", or digits without a leading zero, below the count.
JsonValue *find_item(const JsonArray *array, const char *token, const char *end) {
    if (token == end || (*token == '0' && end - token > 1)) return nullptr;
    uint64_t index = 0;
    for (const char *at = token; at < end; ++at) {
        if (*at < '0' || *at > '9') return nullptr;
        index = index * 10 + uint64_t(*at - '0');
        if (index >= array->count) return nullptr;
    }
    return array->cells[index]->value;
}

} // namespace

int json_pointer_get(JsonValue **output, const JsonValue *root, const char *pointer) {
    *output = nullptr;
    if (!pointer || !is_pointer(pointer)) return JSON_ESYNTAX;
    if (!root) return JSON_NOMATCH;
    const JsonValue *value = root;
    for (const char *at = pointer; *at == '/';) {
        const char *token = at + 1;
        at = token_end(token);
        if (value->type == JSON_OBJECT)
            value = find_member(json_object_payload(value), token, at);
        else if (value->type == JSON_ARRAY)
            value = find_item(json_array_payload(value), token, at);
        else
            value = nullptr;
        if (!value) return JSON_NOMATCH;
    }
    *output = const_cast<JsonValue *>(value);
    return 0;
}

// Editing: replace, insert and remove array items and object members from JSON text.
#include "json_node.h"

#include <cstring>

namespace {

// Reads a value text that must hold exactly one value and nothing behind it.
int read_value_text(const char *text, JsonValue **value) {
    const char *end = text;
    int status = json_parse_value(text, &end, value);
    if (json_is_failure(status) || status == JSON_NOMATCH || *end != '\0') {
        json_free(value);
        return JSON_ESYNTAX;
    }
    return 0;
}

// Reads the key of a new member: a bare-mode string that uses up the whole key text.
int read_key_text(const char *key, JsonValue **value) {
    const char *end = key;
    int status = json_parse_string(key, 0, &end, value);
    if (status != JSON_STRING || *end != '\0') {
        json_free(value);
        return JSON_ESYNTAX;
    }
    return 0;
}

void remove_array_item(JsonArray *array, uint32_t index) {
    --array->count;
    json_free(&array->cells[index]->value);
    json_release_cell(array->cells[index]);
    memmove(&array->cells[index], &array->cells[index + 1],
            (array->count - index) * sizeof(JsonCell *));
}

void remove_member(JsonObject *object, JsonMember **slot) {
    JsonMember *member = *slot;
    --object->count;
    json_free(&member->value);
    json_free(&member->key);
    json_release_member(member);
    size_t behind = size_t(object->members + object->count - slot);
    memmove(slot, slot + 1, behind * sizeof(JsonMember *));
}

int insert_member(JsonObject *object, const char *key, const char *text) {
    JsonValue *key_value = nullptr;
    JsonValue *value = nullptr;
    if (read_key_text(key, &key_value) != 0 || read_value_text(text, &value) != 0) {
        json_free(&key_value);
        return JSON_ESYNTAX;
    }
    if (json_object_add(object, key_value, value) != 0) {
        json_free(&key_value);
        json_free(&value);
        return JSON_ENOMEM;
    }
    json_object_sort(object);
    return 0;
}

} // namespace

int json_array_set(JsonValue *array, uint32_t index, const char *text) {
    JsonArray *items = json_array_payload(array);
    // An index past the end names no item: nothing is read, so nothing is written out of bounds.
    if (index > items->count || (!text && index == items->count)) return JSON_NOMATCH;
    if (!text) {
        remove_array_item(items, index);
        return 0;
    }
    JsonValue *value = nullptr;
    if (read_value_text(text, &value) != 0) return JSON_ESYNTAX;
    if (index == items->count) {
        int status = json_array_insert(items, index, value);
        if (status != 0) json_free(&value);
        return status;
    }
    json_free(&items->cells[index]->value);
    items->cells[index]->value = value;
    return 0;
}

int json_object_set(JsonValue *object, const char *key, const char *text) {
    JsonObject *members = json_object_sort(json_object_payload(object));
    JsonMember **slot = json_object_find_slot(members, key);
    if (!slot) return text ? insert_member(members, key, text) : JSON_NOMATCH;
    if (!text) {
        remove_member(members, slot);
        return 0;
    }
    JsonValue *value = nullptr;
    if (read_value_text(text, &value) != 0) return JSON_ESYNTAX;
    json_free(&(*slot)->value);
    (*slot)->value = value;
    return 0;
}

// Access to documents, the building steps, and freeing.
#include "json_node.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

const JsonLiteral json_literals[3] = {
    {"null", 4, JSON_NULL},
    {"true", 4, JSON_TRUE},
    {"false", 5, JSON_FALSE},
};

namespace {

const uint32_t VECTOR_STEP = 32;
const int ERROR_INVALID = 22;

const JsonLiteral *literal_of(const JsonValue *value) {
    return *static_cast<const JsonLiteral *const *>(value->payload);
}

bool is_literal(uint32_t type) {
    return type == JSON_NULL || type == JSON_FALSE || type == JSON_TRUE;
}

const char *key_text(const JsonMember *member) {
    return json_text_payload(member->key)->text;
}

// strcmp order; most keys differ in their first byte, which is compared inline.
inline int compare_keys(const char *a, const char *b) {
    if (*a != *b) return int(static_cast<unsigned char>(*a)) - int(static_cast<unsigned char>(*b));
    return strcmp(a, b);
}

bool key_before(const JsonMember *a, const JsonMember *b) {
    return compare_keys(key_text(a), key_text(b)) < 0;
}

// A member with its key text, for sorting (see json_object_sort).
struct KeyedMember {
    const char *key;
    JsonMember *member;
};

const uint32_t KEYED_SORT_LIMIT = 128;

bool members_in_order(const JsonObject *object) {
    const char *previous = key_text(object->members[0]);
    for (uint32_t i = 1; i < object->count; ++i) {
        const char *key = key_text(object->members[i]);
        if (compare_keys(previous, key) > 0) return false;
        previous = key;
    }
    return true;
}

// Makes room for one more slot in a vector of references; false leaves it as it was.
template <typename Slot>
bool reserve_slot(Slot **&slots, uint32_t &capacity, uint32_t count) {
    if (count != capacity) return true;
    void **grown = json_grow_vector(reinterpret_cast<void **>(slots), capacity);
    if (!grown) return false;
    slots = reinterpret_cast<Slot **>(grown);
    capacity += VECTOR_STEP;
    return true;
}

// The child at a slot of the container's vector, with its second output.
JsonValue *child_at(const JsonValue *container, uint32_t index, JsonValue **second,
                    JsonCursor *cursor) {
    if (container->type == JSON_ARRAY) {
        JsonArray *array = json_array_payload(container);
        *cursor = reinterpret_cast<void **>(&array->cells[index]);
        return array->cells[index]->value;
    }
    JsonObject *object = json_object_payload(container);
    *cursor = reinterpret_cast<void **>(&object->members[index]);
    if (second) *second = object->members[index]->value;
    return object->members[index]->key;
}

// Where the cursor stands in the container's vector, with the vector's count.
bool cursor_index(const JsonValue *container, JsonCursor cursor, uint32_t *index, uint32_t *count) {
    void **first;
    if (container->type == JSON_ARRAY) {
        first = reinterpret_cast<void **>(json_array_payload(container)->cells);
        *count = json_array_payload(container)->count;
    } else {
        first = reinterpret_cast<void **>(json_object_payload(container)->members);
        *count = json_object_payload(container)->count;
    }
    if (!cursor || !first || cursor < first || cursor >= first + *count) return false;
    *index = uint32_t(cursor - first);
    return true;
}

// json_free walks the tree without recursion and without memory of its own, so that no depth
// can exhaust the stack and no failure can stop it. While a container is taken apart, its
// header's payload field holds the container above it (the payload itself is found behind the
// header), and the first slot of its vector, whose cell or member is gone by then, holds the
// index to go on at when the walk comes back from a child container. Blocks are released in
// document order; a container's cell or member goes just before its subtree instead of after.

bool is_container(const JsonValue *value) {
    return value->type == JSON_ARRAY || value->type == JSON_OBJECT;
}

struct FreeWalk {
    JsonValue *container; // the container being taken apart
    uint32_t next;        // index of its next child
};

// Freeing waits on memory more than it computes: the blocks of a large document lie far apart.
// The walk asks for the blocks a few children ahead (the cell or member eight ahead, and the
// nodes of the one four ahead, whose cell or member was asked for earlier), so that their loads
// overlap.
void prefetch_cell_ahead(JsonCell *const *cells, uint32_t next) {
    __builtin_prefetch(cells[next + 8]);
    __builtin_prefetch(cells[next + 4]->value);
}

void prefetch_member_ahead(JsonMember *const *members, uint32_t next) {
    __builtin_prefetch(members[next + 8]);
    __builtin_prefetch(members[next + 4]->key);
    __builtin_prefetch(members[next + 4]->value);
}

// The next child to release of the container, with its cell or member already released, or
// null when none is left. An object's keys are strings: they go at once.
JsonValue *take_next_child(FreeWalk *walk) {
    void *payload = json_payload_behind(walk->container);
    if (walk->container->type == JSON_ARRAY) {
        JsonArray *array = static_cast<JsonArray *>(payload);
        if (walk->next >= array->count) return nullptr;
        if (walk->next + 8 < array->count) prefetch_cell_ahead(array->cells, walk->next);
        JsonCell *cell = array->cells[walk->next++];
        JsonValue *child = cell->value;
        json_release_cell(cell);
        return child;
    }
    JsonObject *object = static_cast<JsonObject *>(payload);
    if (walk->next >= object->count) return nullptr;
    if (walk->next + 8 < object->count) prefetch_member_ahead(object->members, walk->next);
    JsonMember *member = object->members[walk->next++];
    JsonValue *child = member->value;
    json_release_node(member->key);
    json_release_member(member);
    return child;
}

void **first_slot(JsonValue *container) {
    void *payload = json_payload_behind(container);
    if (container->type == JSON_ARRAY)
        return reinterpret_cast<void **>(static_cast<JsonArray *>(payload)->cells);
    return reinterpret_cast<void **>(static_cast<JsonObject *>(payload)->members);
}

void release_vector_of(JsonValue *container) {
    void *payload = json_payload_behind(container);
    if (container->type == JSON_ARRAY) {
        JsonArray *array = static_cast<JsonArray *>(payload);
        json_release_vector(reinterpret_cast<void **>(array->cells), array->capacity);
    } else {
        JsonObject *object = static_cast<JsonObject *>(payload);
        json_release_vector(reinterpret_cast<void **>(object->members), object->capacity);
    }
}

void free_container(JsonValue *root) {
    FreeWalk walk = {root, 0};
    root->payload = nullptr; // no container above the root
    for (;;) {
        JsonValue *child;
        while ((child = take_next_child(&walk)) && !is_container(child))
            json_release_node(child);
        if (child) { // go down, leaving the way back behind
            first_slot(walk.container)[0] = reinterpret_cast<void *>(uintptr_t(walk.next));
            child->payload = walk.container;
            walk = {child, 0};
            continue;
        }
        JsonValue *parent = static_cast<JsonValue *>(walk.container->payload);
        release_vector_of(walk.container);
        json_release_node(walk.container);
        if (!parent) return;
        walk = {parent, uint32_t(reinterpret_cast<uintptr_t>(first_slot(parent)[0]))};
    }
}

} // namespace

uint32_t json_type(const JsonValue *value) {
    return value->type;
}

uint32_t json_length(const JsonValue *value) {
    switch (value->type) {
    case JSON_NULL:
    case JSON_FALSE:
    case JSON_TRUE:
        return literal_of(value)->length;
    case JSON_STRING:
    case JSON_NUMBER:
        return json_text_payload(value)->length;
    case JSON_ARRAY:
        return json_array_payload(value)->count;
    case JSON_OBJECT:
        return json_object_payload(value)->count;
    default:
        return 0;
    }
}

const char *json_text(const JsonValue *value, uint32_t *length) {
    if (length) *length = json_length(value);
    if (is_literal(value->type)) return literal_of(value)->text;
    if (value->type == JSON_STRING || value->type == JSON_NUMBER)
        return json_text_payload(value)->text;
    return nullptr;
}

JsonValue *json_array_item(const JsonValue *array, uint32_t index) {
    const JsonArray *items = json_array_payload(array);
    return index < items->count ? items->cells[index]->value : nullptr;
}

JsonMember **json_object_find_slot(const JsonObject *object, const char *key) {
    // Equal keys stand together in the order they were written, and the last one counts: the
    // search looks for the first member whose key sorts after key, and takes the one before it.
    uint32_t low = 0;
    uint32_t high = object->count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        if (strcmp(key, key_text(object->members[middle])) < 0)
            high = middle;
        else
            low = middle + 1;
    }
    if (low == 0 || strcmp(key, key_text(object->members[low - 1])) != 0) return nullptr;
    return &object->members[low - 1];
}

JsonValue *json_object_find(const JsonValue *object, const char *key, JsonValue **key_output) {
    JsonMember **slot = json_object_find_slot(json_object_payload(object), key);
    JsonMember *member = slot ? *slot : nullptr;
    if (key_output) *key_output = member ? member->key : nullptr;
    return member ? member->value : nullptr;
}

int json_object_get(JsonValue **output, const JsonValue *object, const char *key, uint32_t wanted) {
    if (!object || object->type != JSON_OBJECT) return ERROR_INVALID;
    JsonValue *found = json_object_find(object, key, nullptr);
    *output = found;
    if (!found || found->type != wanted || json_length(found) == 0) return ERROR_INVALID;
    return 0;
}

JsonValue *json_first(const JsonValue *container, JsonValue **second, JsonCursor *cursor) {
    if (container->type != JSON_ARRAY && container->type != JSON_OBJECT) return nullptr;
    if (second) *second = nullptr;
    if (json_length(container) == 0) {
        *cursor = nullptr;
        return nullptr;
    }
    return child_at(container, 0, second, cursor);
}

JsonValue *json_next(const JsonValue *container, JsonValue **second, JsonCursor *cursor) {
    if (container->type != JSON_ARRAY && container->type != JSON_OBJECT) return nullptr;
    uint32_t index = 0;
    uint32_t count = 0;
    if (second) *second = nullptr;
    if (!cursor_index(container, *cursor, &index, &count) || index + 1 >= count) {
        *cursor = nullptr;
        return nullptr;
    }
    return child_at(container, index + 1, second, cursor);
}

void json_free(JsonValue **slot) {
    if (!slot || !*slot) return;
    JsonValue *value = *slot;
    if (is_container(value))
        free_container(value);
    else
        json_release_node(value);
    *slot = nullptr;
}

int json_array_insert(JsonArray *array, uint32_t index, JsonValue *item) {
    JsonCell *cell = json_new_cell(item);
    if (!cell) return JSON_ENOMEM;
    if (!reserve_slot(array->cells, array->capacity, array->count)) {
        json_release_cell(cell);
        return JSON_ENOMEM;
    }
    if (index < array->count) // the parser always appends: nothing to move
        memmove(&array->cells[index + 1], &array->cells[index],
                (array->count - index) * sizeof(JsonCell *));
    array->cells[index] = cell;
    ++array->count;
    return 0;
}

int json_object_add(JsonObject *object, JsonValue *key, JsonValue *value) {
    JsonMember *member = json_new_member(key, value);
    if (!member) return JSON_ENOMEM;
    if (!reserve_slot(object->members, object->capacity, object->count)) {
        json_release_member(member);
        return JSON_ENOMEM;
    }
    object->members[object->count++] = member;
    object->flags |= JSON_NEEDS_SORT;
    return 0;
}

JsonObject *json_object_sort(JsonObject *object) {
    if (!(object->flags & JSON_NEEDS_SORT)) return object;
    object->flags &= ~JSON_NEEDS_SORT;
    // Objects are most often written in key order already; a linear check then saves the sort.
    if (object->count < 2 || members_in_order(object)) return object;
    // Each comparison would reach a key text through its member and its key node; sorting
    // pairs of key text and member, on the stack, reaches the texts directly. That sort does
    // not keep members with one key in the order they were written in, so it is given up, the
    // members left as they were, when it meets two equal keys. It always meets them: a
    // comparison sort cannot put two equal keys next to each other without comparing them.
    if (object->count <= KEYED_SORT_LIMIT) {
        KeyedMember pairs[KEYED_SORT_LIMIT];
        for (uint32_t i = 0; i < object->count; ++i)
            pairs[i] = {key_text(object->members[i]), object->members[i]};
        bool equal_keys = false;
        std::sort(pairs, pairs + object->count,
                  [&equal_keys](const KeyedMember &a, const KeyedMember &b) {
                      // Keys whose first bytes differ cannot be equal, so only strcmp's
                      // answer is checked for equality.
                      if (*a.key != *b.key)
                          return static_cast<unsigned char>(*a.key) <
                                 static_cast<unsigned char>(*b.key);
                      int order = strcmp(a.key, b.key);
                      if (order == 0) [[unlikely]]
                          equal_keys = true;
                      return order < 0;
                  });
        if (!equal_keys) {
            for (uint32_t i = 0; i < object->count; ++i)
                object->members[i] = pairs[i].member;
            return object;
        }
    }
    // A stable sort keeps members with one key in the order they were written in.
    std::stable_sort(object->members, object->members + object->count, key_before);
    return object;
}

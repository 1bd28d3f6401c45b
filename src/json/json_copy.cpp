// Deep copies and structural comparison of documents.
#include "json_node.h"
#include "json_walk.h"

#include <cstring>

namespace {

bool is_container(const JsonValue *value) {
    return value->type == JSON_ARRAY || value->type == JSON_OBJECT;
}

uint32_t child_count(const JsonValue *container) {
    return container->type == JSON_ARRAY ? json_array_payload(container)->count
                                         : json_object_payload(container)->count;
}

// A node like value with the same text or literal; a container comes empty. Null without
// memory, or for a value of no known type.
JsonValue *copy_node(const JsonValue *value) {
    switch (value->type) {
    case JSON_NULL:
    case JSON_FALSE:
    case JSON_TRUE:
        return json_new_literal_node(json_literal_payload(value));
    case JSON_STRING:
    case JSON_NUMBER: {
        const JsonText *text = json_text_payload(value);
        JsonValue *node = json_new_text_node(value->type, text->length);
        if (node) memcpy(json_text_payload(node)->text, text->text, text->length);
        return node;
    }
    case JSON_ARRAY:
        return json_new_array_node();
    case JSON_OBJECT:
        return json_new_object_node();
    default:
        return nullptr;
    }
}

// A container being copied: its next child goes into the copy's container.
struct CopyFrame {
    const JsonValue *source;
    JsonValue *target;
    uint32_t next;
};

// Copies the next child of the top frame into its target, and pushes the child when it is a
// container with children of its own. False without memory (the target stays a sound tree).
bool copy_next_child(JsonWalkStack<CopyFrame> *stack) {
    CopyFrame &top = stack->top();
    uint32_t index = top.next++;
    JsonValue *key = nullptr;
    const JsonValue *child;
    if (top.source->type == JSON_ARRAY) {
        child = json_array_payload(top.source)->cells[index]->value;
    } else {
        const JsonMember *member = json_object_payload(top.source)->members[index];
        child = member->value;
        key = copy_node(member->key);
        if (!key) return false;
    }
    JsonValue *copy = copy_node(child);
    if (!copy) {
        json_free(&key);
        return false;
    }
    int status;
    if (key) {
        JsonObject *object = json_object_payload(top.target);
        status = json_object_add(object, key, copy);
        object->flags = json_object_payload(top.source)->flags; // add marked it unsorted
    } else {
        JsonArray *array = json_array_payload(top.target);
        status = json_array_insert(array, array->count, copy);
    }
    if (status != 0) {
        json_free(&key);
        json_free(&copy);
        return false;
    }
    return !is_container(child) || child_count(child) == 0 || stack->push({child, copy, 0});
}

// A pair of values being compared: a container of each, and the index of the next children.
struct CompareFrame {
    const JsonValue *a;
    const JsonValue *b;
    uint32_t next;
};

bool same_text(const JsonValue *a, const JsonValue *b) {
    const JsonText *x = json_text_payload(a);
    const JsonText *y = json_text_payload(b);
    return x->length == y->length && memcmp(x->text, y->text, x->length) == 0;
}

// Whether two values are alike on their own: type, text, and for containers the child count.
bool same_node(const JsonValue *a, const JsonValue *b) {
    if (a->type != b->type) return false;
    switch (a->type) {
    case JSON_STRING:
    case JSON_NUMBER:
        return same_text(a, b);
    case JSON_ARRAY:
    case JSON_OBJECT:
        return child_count(a) == child_count(b);
    default:
        return true;
    }
}

// Compares the next children of the top frame's containers, pushing them when they are
// containers with children. Returns 0, JSON_NOMATCH or JSON_ENOMEM.
int compare_next_children(JsonWalkStack<CompareFrame> *stack) {
    CompareFrame &top = stack->top();
    uint32_t index = top.next++;
    const JsonValue *a, *b;
    if (top.a->type == JSON_ARRAY) {
        a = json_array_payload(top.a)->cells[index]->value;
        b = json_array_payload(top.b)->cells[index]->value;
    } else {
        const JsonMember *x = json_object_payload(top.a)->members[index];
        const JsonMember *y = json_object_payload(top.b)->members[index];
        if (!same_text(x->key, y->key)) return JSON_NOMATCH;
        a = x->value;
        b = y->value;
    }
    if (!same_node(a, b)) return JSON_NOMATCH;
    if (!is_container(a) || child_count(a) == 0) return 0;
    return stack->push({a, b, 0}) ? 0 : JSON_ENOMEM;
}

} // namespace

int json_copy(JsonValue **copy, const JsonValue *value) {
    *copy = nullptr;
    if (!value) return JSON_NOMATCH;
    JsonValue *root = copy_node(value);
    if (!root) return JSON_ENOMEM;
    JsonWalkStack<CopyFrame> stack;
    bool copied = !is_container(value) || child_count(value) == 0 || stack.push({value, root, 0});
    while (copied && stack.count > 0) {
        if (stack.top().next == child_count(stack.top().source))
            stack.pop();
        else
            copied = copy_next_child(&stack);
    }
    if (!copied) {
        json_free(&root);
        return JSON_ENOMEM;
    }
    *copy = root;
    return 0;
}

int json_compare(const JsonValue *a, const JsonValue *b) {
    if (!a || !b || !same_node(a, b)) return JSON_NOMATCH;
    JsonWalkStack<CompareFrame> stack;
    if (is_container(a) && child_count(a) > 0 && !stack.push({a, b, 0})) return JSON_ENOMEM;
    int status = 0;
    while (status == 0 && stack.count > 0) {
        if (stack.top().next == child_count(stack.top().a))
            stack.pop();
        else
            status = compare_next_children(&stack);
    }
    return status;
}

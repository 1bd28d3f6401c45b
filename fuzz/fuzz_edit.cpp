// Editing: every failed edit leaves the container exactly as it was, every object is sorted
// after json_object_set, and nothing leaks.
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>

namespace {

bool sorted_and_flag_clear(const JsonValue *object) {
    const JsonObject *members = static_cast<const JsonObject *>(object->payload);
    if (members->flags & JSON_NEEDS_SORT) return false;
    for (uint32_t i = 1; i < members->count; ++i)
        if (strcmp(json_text(members->members[i - 1]->key, nullptr),
                   json_text(members->members[i]->key, nullptr)) > 0)
            return false;
    return true;
}

// A container of the document chosen by the fuzzer: the root or one of its children.
JsonValue *pick_container(JsonValue *root, FuzzedDataProvider *input) {
    JsonValue *member_value = nullptr;
    JsonCursor cursor = nullptr;
    uint32_t skip = input->ConsumeIntegralInRange<uint32_t>(0, 8);
    JsonValue *child = json_first(root, &member_value, &cursor);
    for (uint32_t i = 0; child && i < skip; ++i)
        child = json_next(root, &member_value, &cursor);
    JsonValue *candidate = json_type(root) == JSON_OBJECT ? member_value : child;
    if (candidate && (json_type(candidate) & (JSON_ARRAY | JSON_OBJECT))) return candidate;
    return root;
}

// Makes one edit; failing_allocation, when not 0, is the allocation of the edit that fails.
void edit_once(JsonValue *root, FuzzedDataProvider *input, unsigned long failing_allocation) {
    JsonValue *container = pick_container(root, input);
    bool remove = input->ConsumeBool();
    std::string key = input->ConsumeRandomLengthString(16);
    std::string text = input->ConsumeRandomLengthString(64);
    std::string before = serialized(root);
    int status;
    if (json_type(container) == JSON_ARRAY) {
        uint32_t count = json_length(container);
        if (remove && count == 0) return;
        uint32_t index = input->ConsumeIntegralInRange<uint32_t>(0, remove ? count - 1 : count);
        mem_fail_at(failing_allocation);
        status = json_array_set(container, index, remove ? nullptr : text.c_str());
        mem_fail_at(0);
    } else {
        mem_fail_at(failing_allocation);
        status = json_object_set(container, key.c_str(), remove ? nullptr : text.c_str());
        mem_fail_at(0);
        FUZZ_CHECK(sorted_and_flag_clear(container));
    }
    FUZZ_CHECK(status == 0 || status == JSON_NOMATCH || status == JSON_ENOMEM ||
               status == JSON_ESYNTAX);
    if (status != 0) FUZZ_CHECK(serialized(root) == before);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::string document = input.ConsumeRandomLengthString(256);
    long live = mem_live_blocks();
    const char *end = nullptr;
    JsonValue *root = nullptr;
    if (json_parse(document.c_str(), &end, &root) != 0) return 0;
    for (int edits = 0; edits < 8 && input.remaining_bytes() > 0; ++edits) {
        unsigned long failing_allocation = 0;
        if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
            failing_allocation = input.ConsumeIntegralInRange<unsigned long>(1, 4);
        edit_once(root, &input, failing_allocation);
    }
    json_free(&root);
    FUZZ_CHECK(mem_live_blocks() == live);
    return 0;
}

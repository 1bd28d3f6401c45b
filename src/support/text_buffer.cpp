#include "text_buffer.h"

#include "log.h"
#include "memory.h"

#include <cstring>

namespace {

const uint32_t GROWTH_STEP = 256;

// The smallest multiple of 256 strictly above `needed`, or 0 when that does not fit 32 bits.
uint32_t capacity_above(uint64_t needed) {
    uint64_t capacity = (needed & ~uint64_t(GROWTH_STEP - 1)) + GROWTH_STEP;
    return capacity > UINT32_MAX ? 0 : uint32_t(capacity);
}

// Moves the buffer to a block of the given capacity; 12 leaves it untouched.
int grow(TextBuffer *buffer, uint32_t capacity) {
    if (capacity == 0) return TEXT_BUFFER_ENOMEM;
    char *data = static_cast<char *>(mem_realloc(buffer->data, capacity));
    if (!data) return TEXT_BUFFER_ENOMEM;
    buffer->data = data;
    buffer->capacity = capacity;
    return 0;
}

void copy_in(TextBuffer *buffer, const char *bytes, uint32_t count) {
    if (count > 0) memcpy(buffer->data + buffer->length, bytes, count);
    buffer->length += count;
}

} // namespace

void text_buffer_init(TextBuffer *buffer) {
    buffer->data = nullptr;
    buffer->capacity = 0;
    buffer->length = 0;
}

int text_buffer_append(TextBuffer *buffer, const char *bytes, uint32_t count) {
    uint64_t needed = uint64_t(buffer->length) + count;
    if (needed >= buffer->capacity && grow(buffer, capacity_above(needed)) != 0) {
        log_message(7, "%s [%u bytes]", "No memory", unsigned(count));
        return TEXT_BUFFER_ENOMEM;
    }
    memset(buffer->data + buffer->length, 0, buffer->capacity - buffer->length);
    copy_in(buffer, bytes, count);
    return 0;
}

int text_buffer_append_raw_general(TextBuffer *buffer, const char *bytes, uint32_t count) {
    uint64_t needed = uint64_t(buffer->length) + count;
    if (needed > buffer->capacity && grow(buffer, capacity_above(needed)) != 0)
        return TEXT_BUFFER_ENOMEM;
    copy_in(buffer, bytes, count);
    return 0;
}

int text_buffer_sink(const char *text, int count, void *context) {
    return text_buffer_append(static_cast<TextBuffer *>(context), text, uint32_t(count));
}

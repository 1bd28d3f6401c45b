// TextBuffer: the one growable byte buffer of the program.
//
// Every command line, file image, serialised document and escaped string is built in one.
// What always holds:
//   - length <= capacity; capacity is 0 while data is null, else a multiple of 256.
//   - After a successful text_buffer_append, length < capacity and every byte from data[length]
//     to data[capacity - 1] is zero, so data is a zero-terminated text.
//   - text_buffer_append_raw keeps only length <= capacity: the block may end exactly full and
//     the bytes behind length are left as they were; its user terminates the text itself.
//   - capacity never shrinks; the block grows in steps of 256 bytes.
// The record belongs to whoever declares it, and so does the block: release it with mem_free
// (harmless on a buffer that never grew) and initialise the record again before reusing it.
// Users may lower length themselves to cut or reuse the text; the next text_buffer_append
// zeroes the free tail again.
#pragma once

#include <cstdint>
#include <cstring>

struct TextBuffer {
    char *data;
    uint32_t capacity;
    uint32_t length;
};

enum : int {
    TEXT_BUFFER_ENOMEM = 12, // the status of every failed append
};

// Empties the record without allocating.
void text_buffer_init(TextBuffer *buffer);

// Appends count bytes (zero bytes included) and keeps the text zero-terminated. The first append
// always allocates, even of 0 bytes. Returns 0, or 12 when memory runs out or length + count
// would not fit in 32 bits; the buffer is then unchanged and "No memory [count bytes]" is
// logged at level 7.
int text_buffer_append(TextBuffer *buffer, const char *bytes, uint32_t count);

// The general case of text_buffer_append_raw: any count, growing when the bytes do not fit.
int text_buffer_append_raw_general(TextBuffer *buffer, const char *bytes, uint32_t count);

// Appends count bytes, growing only when they do not fit, zeroing nothing and logging nothing.
// Returns 0 or 12 (buffer unchanged). Inline for the few bytes at a time that the JSON escaper
// appends when they fit; anything else takes the general case.
inline int text_buffer_append_raw(TextBuffer *buffer, const char *bytes, uint32_t count) {
    if (count > 256 || count > buffer->capacity - buffer->length)
        return text_buffer_append_raw_general(buffer, bytes, count);
    if (count > 0) memcpy(buffer->data + buffer->length, bytes, count);
    buffer->length += count;
    return 0;
}

// A JSON writer sink: appends the chunk to the TextBuffer given as context with
// text_buffer_append and returns that status.
int text_buffer_sink(const char *text, int count, void *context);

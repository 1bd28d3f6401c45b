// Writer steps shared by the writer and the composer (not part of json.h).
#pragma once

#include "json.h"

#include <cstring>

// The general case of json_writer_put: bytes that do not fit the staging buffer's room. Kept out
// of line so that the callers' fast paths stay small.
[[gnu::noinline]] int json_writer_put_slow(JsonWriter *writer, const char *bytes, uint32_t count);

// Copies up to 32 bytes with fixed-size moves (two that may overlap), reading and writing only
// the count bytes; longer pieces go to memcpy.
inline void json_copy_piece(char *to, const char *from, uint32_t count) {
    if (count > 16 && count <= 32) {
        memcpy(to, from, 16);
        memcpy(to + count - 16, from + count - 16, 16);
    } else if (count >= 8 && count <= 16) {
        memcpy(to, from, 8);
        memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4 && count < 8) {
        memcpy(to, from, 4);
        memcpy(to + count - 4, from + count - 4, 4);
    } else if (count < 4) {
        for (uint32_t i = 0; i < count; ++i)
            to[i] = from[i];
    } else {
        memcpy(to, from, count);
    }
}

// Stages count bytes, flushing a full staging buffer first whenever more bytes wait. Returns 0
// or the sink's non-zero result, with the bytes not yet staged dropped.
inline int json_writer_put(JsonWriter *writer, const char *bytes, uint32_t count) {
    if (count > writer->staging_capacity - writer->staging_used)
        return json_writer_put_slow(writer, bytes, count);
    json_copy_piece(writer->write_pos, bytes, count);
    writer->write_pos += count;
    writer->staging_used += count;
    return 0;
}

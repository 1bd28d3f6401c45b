// Writer steps shared by the writer and the composer (not part of json.h).
#pragma once

#include "json.h"
#include "json_chars.h"

#include <cstring>

// The general case of json_writer_put: bytes that do not fit the staging buffer's room. Kept out
// of line so that the callers' fast paths stay small.
[[gnu::noinline]] int json_writer_put_slow(JsonWriter *writer, const char *bytes, uint32_t count);

// Stages count bytes, flushing a full staging buffer first whenever more bytes wait. Returns 0
// or the sink's non-zero result, with the bytes not yet staged dropped.
inline int json_writer_put(JsonWriter *writer, const char *bytes, uint32_t count) {
    if (count > writer->staging_capacity - writer->staging_used)
        return json_writer_put_slow(writer, bytes, count);
    // The fields first: the copy's byte stores could alias them and force them to be read again.
    char *out = writer->write_pos;
    writer->write_pos = out + count;
    writer->staging_used += count;
    json_copy_piece(out, bytes, count);
    return 0;
}

// Writes a string, number or literal as json_serialize does; a container or a value of no known
// type writes nothing. Returns 0 or the sink's non-zero result.
int json_write_scalar(JsonWriter *writer, const JsonValue *value);

// Writer steps shared by the writer and the composer (not part of json.h).
#pragma once

#include "json.h"

// Stages count bytes, flushing a full staging buffer first whenever more bytes wait. Returns 0
// or the sink's non-zero result, with the bytes not yet staged dropped.
int json_writer_put(JsonWriter *writer, const char *bytes, uint32_t count);

#include "file_text.h"

#include "platform.h"
#include "support/memory.h"

namespace {

const int ERROR_INVALID = 22;
const int ERROR_NO_MEMORY = 12;

// Length of the sequence that lead starts and the least code point it may encode; 0 when lead
// cannot start one.
uint32_t sequence_length(unsigned char lead, uint32_t *least) {
    if (lead < 0x80) return *least = 0, 1;
    if (lead >= 0xC2 && lead <= 0xDF) return *least = 0x80, 2;
    if (lead >= 0xE0 && lead <= 0xEF) return *least = 0x800, 3;
    if (lead >= 0xF0 && lead <= 0xF4) return *least = 0x10000, 4;
    return 0;
}

int append_utf8(TextBuffer *out, uint32_t code_point) {
    char bytes[4];
    uint32_t count = 0;
    if (code_point < 0x80) {
        bytes[count++] = char(code_point);
    } else if (code_point < 0x800) {
        bytes[count++] = char(0xC0 | (code_point >> 6));
        bytes[count++] = char(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        bytes[count++] = char(0xE0 | (code_point >> 12));
        bytes[count++] = char(0x80 | ((code_point >> 6) & 0x3F));
        bytes[count++] = char(0x80 | (code_point & 0x3F));
    } else {
        bytes[count++] = char(0xF0 | (code_point >> 18));
        bytes[count++] = char(0x80 | ((code_point >> 12) & 0x3F));
        bytes[count++] = char(0x80 | ((code_point >> 6) & 0x3F));
        bytes[count++] = char(0x80 | (code_point & 0x3F));
    }
    return text_buffer_append_raw(out, bytes, count);
}

uint32_t utf16_unit(const unsigned char *bytes, bool big_endian) {
    return big_endian ? uint32_t(bytes[0]) << 8 | bytes[1] : uint32_t(bytes[1]) << 8 | bytes[0];
}

// Decodes UTF-16 (after its byte order mark) into out, unterminated.
int decode_utf16(TextBuffer *out, const unsigned char *bytes, uint32_t length, bool big_endian) {
    if (length % 2 != 0) return ERROR_INVALID;
    for (uint32_t i = 0; i < length; i += 2) {
        uint32_t unit = utf16_unit(bytes + i, big_endian);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return ERROR_INVALID;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            uint32_t low = i + 3 < length ? utf16_unit(bytes + i + 2, big_endian) : 0;
            if (low < 0xDC00 || low > 0xDFFF) return ERROR_INVALID;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (append_utf8(out, unit) != 0) return ERROR_NO_MEMORY;
    }
    return 0;
}

// Replaces the content of raw with the UTF-16 text it holds behind its byte order mark.
int replace_with_utf16(TextBuffer *raw, bool big_endian) {
    TextBuffer decoded;
    text_buffer_init(&decoded);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(raw->data);
    int status = decode_utf16(&decoded, bytes + 2, raw->length - 2, big_endian);
    if (status == 0 && text_buffer_append(&decoded, "", 1) != 0) status = ERROR_NO_MEMORY;
    if (status != 0) {
        mem_free(decoded.data);
        return status;
    }
    mem_free(raw->data);
    *raw = decoded;
    raw->length -= 1;
    return 0;
}

bool starts_with(const TextBuffer *raw, const char *prefix, uint32_t count) {
    return raw->length >= count && memcmp(raw->data, prefix, count) == 0;
}

} // namespace

bool is_valid_utf8(const char *text, uint32_t length) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    uint32_t i = 0;
    while (i < length) {
        uint32_t least = 0;
        uint32_t count = sequence_length(bytes[i], &least);
        if (count == 0 || length - i < count) return false;
        uint32_t code_point = count == 1 ? bytes[i] : bytes[i] & (0x7F >> count);
        for (uint32_t k = 1; k < count; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            code_point = code_point << 6 | (bytes[i + k] & 0x3F);
        }
        if (code_point < least || code_point > 0x10FFFF ||
            (code_point >= 0xD800 && code_point <= 0xDFFF))
            return false;
        i += count;
    }
    return true;
}

int decode_file_text(TextBuffer *raw) {
    int status = 0;
    if (starts_with(raw, "\xEF\xBB\xBF", 3)) {
        memmove(raw->data, raw->data + 3, raw->length - 3);
        raw->length -= 3;
    } else if (starts_with(raw, "\xFF\xFE", 2) || starts_with(raw, "\xFE\xFF", 2)) {
        return replace_with_utf16(raw, raw->data[0] == '\xFE');
    }
    if (!is_valid_utf8(raw->data, raw->length)) status = platform_decode_legacy_text(raw);
    if (status == 0 && text_buffer_append(raw, "", 1) != 0) status = ERROR_NO_MEMORY;
    if (status == 0) raw->length -= 1;
    return status;
}

// The text of a JSON file as the hub works with it: UTF-8, whatever encoding the file used.
//
// Files come from Windows tools as often as from anywhere else: UTF-8 with or without a byte
// order mark, UTF-16 with one (PowerShell 5.1's Out-File), or the ANSI code page (cmd's echo,
// PowerShell 5.1's Set-Content).
#pragma once

#include "support/text_buffer.h"

// Turns the bytes of a whole file, raw (length bytes, not yet terminated), into zero-terminated
// UTF-8 text in place:
//   - a UTF-8 byte order mark at the start is dropped;
//   - a file starting with a UTF-16 byte order mark (FF FE little-endian, FE FF big-endian) is
//     decoded; an odd length or an unpaired surrogate is 22;
//   - any other text that is valid UTF-8 stays as it is;
//   - text that is not valid UTF-8 is decoded by the platform's legacy code page (the ANSI
//     code page on Windows; elsewhere the bytes stay as they are).
// Returns 0, 22, or 12 without memory.
int decode_file_text(TextBuffer *raw);

// Whether length bytes of text are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(const char *text, uint32_t length);

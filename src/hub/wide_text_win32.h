// Conversions between the hub's UTF-8 text and the UTF-16 of the Windows wide calls.
#pragma once

#include <windows.h>

// The UTF-16 form of length bytes of UTF-8 text (length -1: up to its NUL), zero-terminated,
// in a block to release with mem_free; *units (optional) receives its length without the NUL.
// Null with errno set when the text is not valid UTF-8 (EILSEQ) or memory runs out (ENOMEM).
wchar_t *wide_from_utf8(const char *text, int length = -1, int *units = nullptr);

// The UTF-8 form of units UTF-16 units (-1: up to the NUL), zero-terminated, in a block to
// release with mem_free; *bytes (optional) receives its length without the NUL. Null with errno
// set to ENOMEM when memory runs out.
char *utf8_from_wide(const wchar_t *text, int units = -1, int *bytes = nullptr);

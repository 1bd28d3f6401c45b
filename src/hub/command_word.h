// Words of a command line written so that the command interpreter hands them on unchanged.
#pragma once

#include "support/text_buffer.h"

#include <cstdint>

// Appends text as it must stand inside a double-quoted argument that ends right after it, so
// that the program receives it unchanged: backslash runs that the interpreter or the program's
// argument rules would halve are written twice. Returns 0, 22 for a byte that cannot be carried
// inside double quotes (nothing useful is appended then), or 12 without memory.
int append_in_quotes(TextBuffer *line, const char *text, uint32_t length);

// Appends a program's path as the first word of a command line: as it is when the interpreter
// would take it whole, otherwise in double quotes (a blank, or a byte such as & ( ) that the
// interpreter acts on). Returns 0, 22 when the path holds a byte that no quoting carries (a
// double quote), or 12 without memory.
int append_program_word(TextBuffer *line, const char *path, uint32_t length);

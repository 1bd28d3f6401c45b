// Relaunch mode: the hub copies itself to quorcpy.exe and starts the copy with --start.
#pragma once

#include <cstddef>

enum : int {
    OWN_DIRECTORY_LIMIT = 260, // the platform's path limit in its characters, terminator included
    OWN_DIRECTORY_SIZE = 780,  // bytes: 259 UTF-16 units take at most 3 bytes each in UTF-8
    COPY_PATH_SIZE = 795,      // own directory, separator, "quorcpy.exe"
    COMMAND_LINE_SIZE = 4096,  // the copy's command line, terminator included
};

// Copies the program's own file (own_file, as the entry chose it) to quorcpy.exe in
// own_directory and starts that copy there with --start in front of this run's arguments,
// without waiting for it. Returns 0
// when started; E2BIG when the command line does not fit COMMAND_LINE_SIZE (nothing is copied
// or started); 22 when the program is quorcpy.exe itself (nothing is copied or started); the
// copy_file result (-1, -2); or the platform's error for a failed start.
int relaunch_self(const char *own_directory, const char *own_file, int count, char **arguments);

// Writes "quorcpy.exe --start" and, after one blank each, arguments[1..count-1] into line.
// An argument that is empty or holds a blank, a tab or a double quote is quoted by the rules
// of the C runtime's command-line parser, so the copy receives it whole. Returns false when
// the line and its terminator do not fit size bytes.
bool compose_relaunch_command_line(char *line, size_t size, int count, char **arguments);

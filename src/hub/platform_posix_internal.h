// What the POSIX platform files share among themselves.
#pragma once

// The name a file system call gets: name itself, or, when it ends in blanks, a copy without
// them in trimmed (PATH_MAX bytes). Null (errno set) when the trimmed name does not fit.
const char *file_system_name(const char *name, char *trimmed);

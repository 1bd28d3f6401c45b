// Byte-exact file copy, used for the relaunch copy and the updater's working copy.
#pragma once

enum : int {
    COPY_FILE_EIO = -1,   // a read or write error during the copy
    COPY_FILE_EOPEN = -2, // the source or the destination cannot be opened
};

// Copies source to destination, made fresh (the old file removed, the new one created
// exclusively, never through a link), and logs the copy line at level 7. The copy keeps the
// source's permission bits where the platform has them. Returns 0, COPY_FILE_EIO (a partly
// written destination is left in place) or COPY_FILE_EOPEN (the destination is not touched when
// the source cannot be opened; one that cannot be removed or created fails likewise).
int copy_file(const char *destination, const char *source);

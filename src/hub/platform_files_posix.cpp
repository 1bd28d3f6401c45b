// Files and paths on POSIX systems, behaving as the hub expects of the Windows calls: a file
// name loses its trailing blanks before it reaches the file system.
#include "platform.h"
#include "platform_posix_internal.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char platform_separator = '/';
const char platform_separators[] = "/";

const char *file_system_name(const char *name, char *trimmed) {
    size_t length = strlen(name);
    if (length == 0 || name[length - 1] != ' ') return name;
    while (length > 0 && name[length - 1] == ' ')
        --length;
    if (length >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    memcpy(trimmed, name, length);
    trimmed[length] = '\0';
    return trimmed;
}

namespace {

// Appends the components of path to the absolute path in out (length *used, at least "/"),
// resolving "." and ".." and repeated separators. False when out would overflow.
bool append_components(char *out, size_t capacity, size_t *used, const char *path) {
    const char *p = path;
    while (*p) {
        while (*p == '/')
            ++p;
        const char *start = p;
        while (*p && *p != '/')
            ++p;
        size_t length = size_t(p - start);
        if (length == 0 || (length == 1 && start[0] == '.')) continue;
        if (length == 2 && start[0] == '.' && start[1] == '.') {
            while (*used > 1 && out[*used - 1] != '/')
                --*used;
            if (*used > 1) --*used;
            out[*used] = '\0';
            continue;
        }
        if (*used + 1 + length + 1 > capacity) return false;
        if (*used > 1) out[(*used)++] = '/';
        memcpy(out + *used, start, length);
        *used += length;
        out[*used] = '\0';
    }
    return true;
}

} // namespace

unsigned long platform_full_path(const char *path, unsigned long size, char *buffer,
                                 char **file_part) {
    *file_part = nullptr;
    if (!path || !*path) return 0;
    char resolved[PATH_MAX * 2] = "/";
    size_t used = 1;
    if (path[0] != '/') {
        char current[PATH_MAX];
        if (!getcwd(current, sizeof current) ||
            !append_components(resolved, sizeof resolved, &used, current))
            return 0;
    }
    if (!append_components(resolved, sizeof resolved, &used, path)) return 0;
    bool ends_in_separator = path[strlen(path) - 1] == '/' && used > 1;
    if (ends_in_separator) resolved[used++] = '/';
    resolved[used] = '\0';
    if (used + 1 > size) return used + 1;
    memcpy(buffer, resolved, used + 1);
    char *last = strrchr(buffer, '/');
    if (!ends_in_separator && last && last[1]) *file_part = last + 1;
    return used;
}

int platform_own_file(TextBuffer *path) {
    char target[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", target, sizeof target);
    if (length < 0) return errno;
    if (size_t(length) >= sizeof target) return ENAMETOOLONG;
    path->length = 0;
    return text_buffer_append(path, target, uint32_t(length)) == 0 ? 0 : ENOMEM;
}

bool platform_names_same_file(const char *path, const char *own_file) {
    struct stat named;
    struct stat own;
    return stat(path, &named) == 0 && stat(own_file, &own) == 0 && named.st_dev == own.st_dev &&
           named.st_ino == own.st_ino;
}

int platform_open_regular_file(const char *name, FILE **file) {
    char trimmed[PATH_MAX];
    const char *path = file_system_name(name, trimmed);
    if (!path) return errno;
    // Without O_NONBLOCK, opening a FIFO waits for a writer; O_NOCTTY keeps a terminal from
    // becoming the hub's.
    int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return errno;
    struct stat status;
    int error = fstat(descriptor, &status) != 0 ? errno
                : S_ISDIR(status.st_mode)       ? EISDIR
                : !S_ISREG(status.st_mode)      ? ENODEV
                                                : 0;
    if (error == 0 && fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error == 0 && !(*file = fdopen(descriptor, "rb"))) error = errno;
    if (error != 0) close(descriptor);
    return error;
}

FILE *platform_fopen(const char *name, const char *mode) {
    char trimmed[PATH_MAX];
    const char *path = file_system_name(name, trimmed);
    return path ? fopen(path, mode) : nullptr;
}

int platform_unlink(const char *name) {
    char trimmed[PATH_MAX];
    const char *path = file_system_name(name, trimmed);
    return path ? unlink(path) : -1;
}

FILE *platform_create_fresh(const char *name, FILE *source) {
    char trimmed[PATH_MAX];
    const char *path = file_system_name(name, trimmed);
    struct stat status;
    if (!path || fstat(fileno(source), &status) != 0) return nullptr;
    // A running program may be removed: it keeps its image, and the new file is another one.
    if (unlink(path) != 0 && errno != ENOENT) return nullptr;
    int file = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) return nullptr;
    // The descriptor stays writable whatever the bits say, so a read-only program copies too.
    if (fchmod(file, status.st_mode & 07777) != 0) {
        int error = errno;
        close(file);
        unlink(path);
        errno = error;
        return nullptr;
    }
    FILE *stream = fdopen(file, "wb");
    if (!stream) close(file);
    return stream;
}

bool platform_same_file(const char *copy, const char *original) {
    char trimmed_copy[PATH_MAX];
    char trimmed_original[PATH_MAX];
    const char *copy_path = file_system_name(copy, trimmed_copy);
    const char *original_path = file_system_name(original, trimmed_original);
    struct stat copy_status;
    struct stat original_status;
    return copy_path && original_path && lstat(copy_path, &copy_status) == 0 &&
           stat(original_path, &original_status) == 0 &&
           copy_status.st_dev == original_status.st_dev &&
           copy_status.st_ino == original_status.st_ino;
}

size_t platform_path_length(const char *, size_t bytes) {
    return bytes;
}

int platform_decode_legacy_text(TextBuffer *) {
    return 0;
}

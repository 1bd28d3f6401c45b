// The report and the log file on POSIX systems.
#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const mode_t OUTPUT_FILE_MODE = 0644;

int write_all(int descriptor, const char *bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(descriptor, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : EIO;
        bytes += written;
        length -= size_t(written);
    }
    return 0;
}

} // namespace

int platform_write_new_file(const char *name, const char *bytes, size_t length) {
    int descriptor =
        open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, OUTPUT_FILE_MODE);
    if (descriptor < 0) return errno;
    int result = write_all(descriptor, bytes, length);
    if (result == 0 && fsync(descriptor) != 0) result = errno;
    if (close(descriptor) != 0 && result == 0) result = errno;
    return result;
}

int platform_replace_file(const char *from, const char *to) {
    return rename(from, to) == 0 ? 0 : errno;
}

int platform_file_size(const char *name, unsigned long long *size) {
    struct stat status;
    if (stat(name, &status) != 0) return errno;
    *size = (unsigned long long)status.st_size;
    return 0;
}

unsigned long platform_process_id() {
    return (unsigned long)getpid();
}

int platform_open_log_file(const char *name, PlatformLogFile *file) {
    int descriptor = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, OUTPUT_FILE_MODE);
    file->handle = descriptor;
    return descriptor < 0 ? errno : 0;
}

void platform_write_log_file(PlatformLogFile *file, const char *bytes, size_t length) {
    if (file->handle >= 0) write_all(int(file->handle), bytes, length);
}

void platform_close_log_file(PlatformLogFile *file) {
    if (file->handle >= 0) close(int(file->handle));
    file->handle = -1;
}

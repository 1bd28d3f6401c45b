// The cycle lock on POSIX systems: a lock file beside the configuration.
#include "platform.h"
#include "platform_posix_internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char LOCK_SUFFIX[] = ".lock";

// Opens the lock file, made if missing, never through a link. Only a regular file of this
// account that no other account may open is taken: another account could hold a lock on any
// other. Returns the descriptor or -1 with errno set.
int open_lock_file(const char *path) {
    // O_NONBLOCK: a FIFO put in its place must not hold the open until a writer comes.
    int file =
        open(path, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (file < 0) return -1;
    struct stat status;
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid() ||
        (status.st_mode & 077) != 0) {
        close(file);
        errno = EACCES;
        return -1;
    }
    return file;
}

} // namespace

int platform_lock_cycle(const char *configuration_path, PlatformCycleLock *lock) {
    lock->handle = -1;
    char trimmed[PATH_MAX];
    const char *path = file_system_name(configuration_path, trimmed);
    // Every spelling of the file (relative, absolute, through a link) gives one name, and a
    // configuration replaced by rename keeps its lock file.
    char lock_path[PATH_MAX + sizeof LOCK_SUFFIX];
    if (!path || !realpath(path, lock_path)) return 0;
    strcat(lock_path, LOCK_SUFFIX);
    int file = open_lock_file(lock_path);
    if (file < 0) return errno;
    // The lock belongs to this open file: it goes with the process, and no command the cycle
    // starts inherits it (close-on-exec).
    while (flock(file, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        close(file);
        return error == EWOULDBLOCK ? EBUSY : error;
    }
    lock->handle = file;
    return 0;
}

void platform_unlock_cycle(PlatformCycleLock *lock) {
    if (lock->handle >= 0) close(int(lock->handle));
    lock->handle = -1;
}

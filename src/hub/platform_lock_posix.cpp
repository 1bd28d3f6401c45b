// The cycle lock on POSIX systems.
#include "platform.h"
#include "platform_posix_internal.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int platform_lock_cycle(const char *configuration_path, PlatformCycleLock *lock) {
    lock->handle = -1;
    char trimmed[PATH_MAX];
    const char *path = file_system_name(configuration_path, trimmed);
    // Without O_NONBLOCK a FIFO would hold the open until a writer comes.
    int file = path ? open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    if (file < 0) return 0;
    // The lock belongs to this open file: it goes with the process, and no command the cycle
    // starts inherits it (close-on-exec).
    while (flock(file, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        close(file);
        // A file system without locks cannot keep two cycles apart; the cycle still runs.
        return error == EWOULDBLOCK ? EBUSY : 0;
    }
    lock->handle = file;
    return 0;
}

void platform_unlock_cycle(PlatformCycleLock *lock) {
    if (lock->handle >= 0) close(int(lock->handle));
    lock->handle = -1;
}

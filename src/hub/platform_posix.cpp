// The platform layer on POSIX systems, written to behave as the hub expects of the Windows
// calls it uses there.
#include "platform.h"

#include "support/memory.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

const char platform_separator = '/';

namespace {

const char RELAUNCH_PROGRAM_NAME[] = "quorcpy.exe";

// The name a file system call gets: name itself, or, when it ends in blanks, a copy without
// them in trimmed (PATH_MAX bytes). Null (errno set) when the trimmed name does not fit.
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

// Whether the first word of command names an executable file in the current directory
// without saying so: such a command needs "./" in front, since the shell, unlike the Windows
// command interpreter, does not look in the current directory.
bool runs_from_current_directory(const char *command) {
    size_t length = strcspn(command, " \t");
    if (length == 0 || length >= PATH_MAX || memchr(command, '/', length) ||
        strpbrk(command, "\"'\\") == command)
        return false;
    char name[PATH_MAX];
    memcpy(name, command, length);
    name[length] = '\0';
    struct stat status;
    return stat(name, &status) == 0 && S_ISREG(status.st_mode) && access(name, X_OK) == 0;
}

int exit_status_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int wait_for(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return exit_status_of(status);
}

// Waits for the shell, which leads its own process group; past the timeout kills the whole
// group and reaps the shell.
int wait_within(pid_t child, unsigned long timeout_milliseconds, bool *timed_out) {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    long pause_microseconds = 1000;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) return exit_status_of(status);
        if (done < 0 && errno != EINTR) return -1;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        unsigned long elapsed = (unsigned long)((now.tv_sec - start.tv_sec) * 1000 +
                                                (now.tv_nsec - start.tv_nsec) / 1000000);
        if (elapsed >= timeout_milliseconds) break;
        usleep(useconds_t(pause_microseconds));
        // Short pauses first, for the many commands that end at once; then a tenth of a second.
        if (pause_microseconds < 100000) pause_microseconds *= 2;
    }
    *timed_out = true;
    kill(-child, SIGKILL);
    wait_for(child);
    return 128 + SIGKILL;
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

int platform_start_copy(char *, const char *copy_path, const char *directory, int count,
                        char **arguments) {
    char **child_arguments = static_cast<char **>(mem_calloc(size_t(count) + 2, sizeof(char *)));
    if (!child_arguments) return ENOMEM;
    child_arguments[0] = const_cast<char *>(RELAUNCH_PROGRAM_NAME);
    child_arguments[1] = const_cast<char *>("--start");
    for (int i = 1; i < count; ++i)
        child_arguments[i + 1] = arguments[i];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A program in the root directory has the empty own directory.
    posix_spawn_file_actions_addchdir_np(&actions, directory[0] ? directory : "/");
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t child = 0;
    int error = posix_spawn(&child, copy_path, &actions, nullptr, child_arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    mem_free(child_arguments);
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

void platform_copy_mode(const char *destination, const char *source) {
    char trimmed_source[PATH_MAX];
    char trimmed_destination[PATH_MAX];
    const char *from = file_system_name(source, trimmed_source);
    const char *to = file_system_name(destination, trimmed_destination);
    struct stat status;
    if (from && to && stat(from, &status) == 0) chmod(to, status.st_mode & 07777);
}

size_t platform_path_length(const char *, size_t bytes) {
    return bytes;
}

int platform_decode_legacy_text(TextBuffer *) {
    return 0;
}

int platform_run_command(const char *wrapped_command, unsigned long timeout_milliseconds,
                         int *exit_status, bool *timed_out) {
    *timed_out = false;
    size_t length = strlen(wrapped_command);
    if (length < 2) return EINVAL;
    // Room for "./", the text inside the wrapping quotes and a NUL.
    char *command = static_cast<char *>(mem_calloc(1, length + 1));
    if (!command) return ENOMEM;
    memcpy(command + 2, wrapped_command + 1, length - 2);
    char *to_run = command + 2;
    if (runs_from_current_directory(to_run)) {
        to_run = command;
        memcpy(to_run, "./", 2);
    }
    char *shell_arguments[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), to_run, nullptr};
    // With a timeout the shell leads a process group of its own, so that everything it started
    // can be ended together.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (timeout_milliseconds != 0) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t child = 0;
    int error = posix_spawn(&child, "/bin/sh", nullptr, &attributes, shell_arguments, environ);
    posix_spawnattr_destroy(&attributes);
    mem_free(command);
    if (error != 0) {
        errno = error;
        *exit_status = -1;
    } else if (timeout_milliseconds == 0) {
        *exit_status = wait_for(child);
    } else {
        *exit_status = wait_within(child, timeout_milliseconds, timed_out);
    }
    return 0;
}

bool platform_needs_quotes(unsigned char byte) {
    if (byte >= 0x80 || (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
        (byte >= 'A' && byte <= 'Z'))
        return false;
    return !strchr("-_./+,:@%", byte) || byte == '\0';
}

const char *platform_working_copy_name(const char *) {
    return "ravcpy.exe";
}

int platform_lock_cycle(const char *configuration_path, PlatformCycleLock *lock) {
    lock->handle = -1;
    char trimmed[PATH_MAX];
    const char *path = file_system_name(configuration_path, trimmed);
    int file = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
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

bool platform_carries_in_quotes(unsigned char byte) {
    return byte != '\0' && byte != '\r' && byte != '\n' && byte != '"' && byte != '$' &&
           byte != '`';
}

bool platform_doubles_backslashes(unsigned long run, bool before_closing_quote) {
    return run > 1 || before_closing_quote;
}

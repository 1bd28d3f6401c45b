// Processes on POSIX systems: the relaunch copy through posix_spawn, and commands through
// /bin/sh -c, in a process group of their own, guarded against the hub's death, when they have
// a timeout.
#include "platform.h"
#include "platform_posix_internal.h"

#include "support/memory.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const char RELAUNCH_PROGRAM_NAME[] = "quorcpy.exe";

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

// A guard outside the command's process group ends the group should the hub die before the
// command does: it waits on a socket only the hub holds, and kills the group when the socket
// closes without the word that lets the command be.
const char GUARD_SCRIPT[] = "read group && { read word || kill -9 -$group; }";

struct Guard {
    pid_t process;
    int socket;
};

// Starts the guard, in a process group of its own, away from a terminal's signals. False when
// it cannot be started.
bool start_guard(Guard *guard) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    char *arguments[] = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                         const_cast<char *>(GUARD_SCRIPT), nullptr};
    int error = posix_spawn(&guard->process, "/bin/sh", &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (error != 0) {
        close(ends[0]);
        errno = error;
        return false;
    }
    guard->socket = ends[0];
    return true;
}

void tell_guard(const Guard *guard, const char *text) {
    send(guard->socket, text, strlen(text), MSG_NOSIGNAL);
}

// Tells the guard which group to watch.
void guard_group(const Guard *guard, pid_t group) {
    char line[32];
    snprintf(line, sizeof line, "%ld\n", long(group));
    tell_guard(guard, line);
}

// The command has ended (or was ended): the guard goes and leaves the group be.
void release_guard(Guard *guard) {
    tell_guard(guard, "\n");
    close(guard->socket);
    wait_for(guard->process);
}

} // namespace

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
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    give_back_start_signals(&attributes);
    pid_t child = 0;
    int error = posix_spawn(&child, copy_path, &actions, &attributes, child_arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    mem_free(child_arguments);
    return error;
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
    give_back_start_signals(&attributes);
    // A command that could not be guarded does not run at all.
    Guard guard = {0, -1};
    int error = timeout_milliseconds != 0 && !start_guard(&guard) ? errno : 0;
    pid_t child = 0;
    if (error == 0)
        error = posix_spawn(&child, "/bin/sh", nullptr, &attributes, shell_arguments, environ);
    posix_spawnattr_destroy(&attributes);
    mem_free(command);
    if (error == 0 && guard.socket >= 0) guard_group(&guard, child);
    if (error != 0) {
        *exit_status = -1;
    } else if (timeout_milliseconds == 0) {
        *exit_status = wait_for(child);
    } else {
        *exit_status = wait_within(child, timeout_milliseconds, timed_out);
    }
    if (guard.socket >= 0) release_guard(&guard);
    if (error != 0) errno = error;
    return 0;
}

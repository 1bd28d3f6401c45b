// Signals on POSIX systems: the hub ignores SIGPIPE, so that a reader of its log that goes away
// only makes the log's writes fail; the commands it starts get SIGPIPE as the hub got it.
#include "platform.h"
#include "platform_posix_internal.h"

#include <csignal>

namespace {

// Whether SIGPIPE was ignored when the hub started (by whoever started it).
bool broken_pipe_ignored_at_start = false;

} // namespace

void platform_ignore_broken_pipe() {
    struct sigaction previous;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, &previous) == 0)
        broken_pipe_ignored_at_start = previous.sa_handler == SIG_IGN;
}

void give_back_start_signals(posix_spawnattr_t *attributes) {
    if (broken_pipe_ignored_at_start) return;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    short flags = 0;
    posix_spawnattr_getflags(attributes, &flags);
    posix_spawnattr_setsigdefault(attributes, &defaults);
    posix_spawnattr_setflags(attributes, short(flags | POSIX_SPAWN_SETSIGDEF));
}

// Work done when a thread ends, handed the value it needs (one source file per platform).
//
// The value travels with the system's own per-thread slot (a POSIX thread-specific key, a
// Windows fiber-local slot), not through a thread_local variable: mingw-w64 keeps thread_local
// variables in C-heap blocks that are freed before the C++ thread_local destructors run, so work
// done at thread end must not read them.
#pragma once

using ThreadEndCallback = void (*)(void *value);

// Makes callback(value) run when the calling thread ends; a later call replaces the thread's
// value. Every call must pass the same callback. 0, or -1 when the system has no slot left.
int thread_end_notify(ThreadEndCallback callback, void *value);

// Whether the ending thread's thread_local variables may still be read and written while the
// callback runs: true where it runs after the C++ thread_local destructors with the thread's
// storage still in place (POSIX keys), false where that storage may be gone (mingw-w64).
extern const bool THREAD_LOCALS_LIVE_AT_THREAD_END;

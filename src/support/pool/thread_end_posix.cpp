#include "thread_end.h"

#include <pthread.h>

// glibc runs key destructors after the thread's C++ thread_local destructors, while the thread's
// static TLS is still there; a destructor that sets the key again runs again (up to
// PTHREAD_DESTRUCTOR_ITERATIONS rounds).
const bool THREAD_LOCALS_LIVE_AT_THREAD_END = true;

namespace {

pthread_key_t key;

int key_made(ThreadEndCallback callback) {
    static const int status = pthread_key_create(&key, callback) == 0 ? 0 : -1;
    return status;
}

} // namespace

int thread_end_notify(ThreadEndCallback callback, void *value) {
    if (key_made(callback) != 0) return -1;
    return pthread_setspecific(key, value) == 0 ? 0 : -1;
}

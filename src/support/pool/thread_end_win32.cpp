#include "thread_end.h"

#include <windows.h>

// A fiber-local slot's callback receives the slot's value when the thread ends. By then a thread
// started through winpthreads has already freed its emulated thread_local storage.
const bool THREAD_LOCALS_LIVE_AT_THREAD_END = false;

namespace {

ThreadEndCallback thread_end_callback;

void WINAPI on_thread_end(void *value) {
    if (value) thread_end_callback(value);
}

int slot_made(ThreadEndCallback callback, DWORD *slot) {
    static const DWORD made = [callback] {
        thread_end_callback = callback;
        return FlsAlloc(on_thread_end);
    }();
    *slot = made;
    return made == FLS_OUT_OF_INDEXES ? -1 : 0;
}

} // namespace

int thread_end_notify(ThreadEndCallback callback, void *value) {
    DWORD slot;
    if (slot_made(callback, &slot) != 0) return -1;
    return FlsSetValue(slot, value) ? 0 : -1;
}

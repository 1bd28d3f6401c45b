// The stack of a tree walk without recursion (not part of json.h): the first 64 frames live in
// the record itself, deeper ones in one heap block that doubles as it fills.
#pragma once

#include "support/memory.h"

#include <cstddef>
#include <cstring>

template <typename Frame>
struct JsonWalkStack {
    Frame inline_frames[64];
    Frame *frames = inline_frames;
    size_t count = 0;
    size_t capacity = sizeof inline_frames / sizeof inline_frames[0];

    JsonWalkStack() = default;
    JsonWalkStack(const JsonWalkStack &) = delete;
    JsonWalkStack &operator=(const JsonWalkStack &) = delete;
    ~JsonWalkStack() {
        if (frames != inline_frames) mem_free(frames);
    }

    // False when the frames' room cannot grow; the stack is then as it was.
    bool push(const Frame &frame) {
        if (count == capacity && !grow()) return false;
        frames[count++] = frame;
        return true;
    }
    // The top frame; a push may move it.
    Frame &top() { return frames[count - 1]; }
    void pop() { --count; }

  private:
    bool grow() {
        Frame *heap_frames = frames == inline_frames ? nullptr : frames;
        void *grown = mem_realloc(heap_frames, capacity * 2 * sizeof(Frame));
        if (!grown) return false;
        if (!heap_frames) memcpy(grown, inline_frames, count * sizeof(Frame));
        frames = static_cast<Frame *>(grown);
        capacity *= 2;
        return true;
    }
};

#include "command_word.h"

#include "platform.h"

namespace {

const int ERROR_INVALID = 22;
const int ERROR_NO_MEMORY = 12;

uint32_t backslash_run(const char *text, uint32_t length, uint32_t start) {
    uint32_t end = start;
    while (end < length && text[end] == '\\')
        ++end;
    return end - start;
}

bool needs_quotes(const char *text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        if (platform_needs_quotes(static_cast<unsigned char>(text[i]))) return true;
    return false;
}

bool carried_in_quotes(const char *text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        if (text[i] != '\\' && !platform_carries_in_quotes(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

} // namespace

int append_in_quotes(TextBuffer *line, const char *text, uint32_t length) {
    uint32_t i = 0;
    while (i < length) {
        uint32_t run = backslash_run(text, length, i);
        if (run > 0) {
            int copies = platform_doubles_backslashes(run, i + run == length) ? 2 : 1;
            for (int copy = 0; copy < copies; ++copy)
                if (text_buffer_append(line, text + i, run) != 0) return ERROR_NO_MEMORY;
            i += run;
            continue;
        }
        uint32_t start = i;
        while (i < length && text[i] != '\\') {
            if (!platform_carries_in_quotes(static_cast<unsigned char>(text[i])))
                return ERROR_INVALID;
            ++i;
        }
        if (text_buffer_append(line, text + start, i - start) != 0) return ERROR_NO_MEMORY;
    }
    return 0;
}

int append_program_word(TextBuffer *line, const char *path, uint32_t length) {
    // Checked whole first, so that a refused path appends nothing.
    if (!carried_in_quotes(path, length)) return ERROR_INVALID;
    if (!needs_quotes(path, length))
        return text_buffer_append(line, path, length) == 0 ? 0 : ERROR_NO_MEMORY;
    if (text_buffer_append(line, "\"", 1) != 0) return ERROR_NO_MEMORY;
    int status = append_in_quotes(line, path, length);
    if (status == 0 && text_buffer_append(line, "\"", 1) != 0) status = ERROR_NO_MEMORY;
    return status;
}

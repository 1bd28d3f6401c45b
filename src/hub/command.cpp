#include "command.h"

#include "platform.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/text_buffer.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

const char *exit_word(int exit_status) {
    switch (exit_status) {
    case 0:
        return "OK";
    case 1:
        return "NO UPDATE";
    case 2:
        return "HAVE UPDATE";
    case -1:
        return "FAIL";
    default:
        return "ERROR";
    }
}

int wrap_in_quotes(TextBuffer *wrapped, const char *command) {
    if (text_buffer_append(wrapped, "\"", 1) != 0 ||
        text_buffer_append(wrapped, command, uint32_t(strlen(command))) != 0 ||
        text_buffer_append(wrapped, "\"", 2) != 0)
        return TEXT_BUFFER_ENOMEM;
    return 0;
}

} // namespace

const char *refusal_reason(int error) {
    switch (error) {
    case ENOMEM:
        return "no_memory";
    case E2BIG:
        return "line_too_long";
    case EILSEQ:
        return "not_utf8";
    default:
        return "refused";
    }
}

int run_command(const char *command, int *exit_status, unsigned long timeout_milliseconds,
                StepOutcome *outcome) {
    TextBuffer wrapped;
    text_buffer_init(&wrapped);
    if (wrap_in_quotes(&wrapped, command) != 0) {
        mem_free(wrapped.data);
        if (outcome)
            *outcome = {true, "FAIL", TEXT_BUFFER_ENOMEM, TEXT_BUFFER_ENOMEM, -1, "no_memory"};
        return TEXT_BUFFER_ENOMEM;
    }
    errno = 0;
    int status = -1;
    bool timed_out = false;
    auto started = std::chrono::steady_clock::now();
    int refusal = platform_run_command(wrapped.data, timeout_milliseconds, &status, &timed_out);
    auto ran = std::chrono::steady_clock::now() - started;
    int result = refusal != 0 ? refusal : timed_out ? ETIMEDOUT : status == -1 ? errno : 0;
    if (refusal == 0) *exit_status = status;
    const char *word = timed_out ? "TIMEOUT" : exit_word(status);
    log_message(7, "Executed: [%s] ... %s(%d)", command, word, status);
    if (outcome)
        *outcome = {true,
                    word,
                    status,
                    result,
                    long(std::chrono::duration_cast<std::chrono::milliseconds>(ran).count()),
                    refusal != 0 ? refusal_reason(refusal) : nullptr};
    mem_free(wrapped.data);
    return result;
}

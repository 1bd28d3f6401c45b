#include "command.h"

#include "platform.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/text_buffer.h"

#include <cerrno>
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

int run_command(const char *command, int *exit_status, unsigned long timeout_milliseconds) {
    TextBuffer wrapped;
    text_buffer_init(&wrapped);
    if (wrap_in_quotes(&wrapped, command) != 0) {
        mem_free(wrapped.data);
        return TEXT_BUFFER_ENOMEM;
    }
    errno = 0;
    int status = -1;
    bool timed_out = false;
    int refusal = platform_run_command(wrapped.data, timeout_milliseconds, &status, &timed_out);
    int result = refusal != 0 ? refusal : timed_out ? ETIMEDOUT : status == -1 ? errno : 0;
    if (refusal == 0) *exit_status = status;
    log_message(7, "Executed: [%s] ... %s(%d)", command,
                timed_out ? "TIMEOUT" : exit_word(status), status);
    mem_free(wrapped.data);
    return result;
}

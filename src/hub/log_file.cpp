#include "log_file.h"

#include "platform.h"
#include "support/log.h"
#include "support/memory.h"

#include <cerrno>
#include <cstring>

namespace {

PlatformLogFile log_file = {-1};

void append_line(void *context, const char *line, size_t length) {
    platform_write_log_file(static_cast<PlatformLogFile *>(context), line, length);
}

int rotate(const char *name) {
    unsigned long long size = 0;
    if (platform_file_size(name, &size) != 0 || size <= LOG_FILE_LIMIT) return 0;
    size_t length = strlen(name);
    char *older = static_cast<char *>(mem_calloc(1, length + 3));
    if (!older) return ENOMEM;
    memcpy(older, name, length);
    memcpy(older + length, ".1", 2);
    int result = platform_replace_file(name, older);
    mem_free(older);
    return result;
}

} // namespace

LogFileStart start_log_file(const char *name) {
    LogFileStart start = {0, rotate(name)};
    start.open_error = platform_open_log_file(name, &log_file);
    if (start.open_error == 0) {
        log_line_copy = append_line;
        log_line_copy_context = &log_file;
    }
    return start;
}

void stop_log_file() {
    log_line_copy = nullptr;
    log_line_copy_context = nullptr;
    platform_close_log_file(&log_file);
}

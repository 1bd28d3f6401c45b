#include "log.h"

#include "memory.h"

#include <cstdio>
#include <cstring>
#include <ctime>

int log_threshold = 3;
LogSink log_sink = nullptr;
void *log_sink_context = nullptr;
int log_depth = 0;
LogLineCopy log_line_copy = nullptr;
void *log_line_copy_context = nullptr;

namespace {

// A line too long for the line buffer, composed again in a block of its own for the copy; the
// copy gets nothing when there is no memory for it.
void copy_long_line(const char *prefix, size_t prefix_length, size_t text_length,
                    const char *format, va_list arguments) {
    size_t length = prefix_length + text_length + 1;
    char *line = static_cast<char *>(mem_calloc(1, length + 1));
    if (!line) return;
    memcpy(line, prefix, prefix_length);
    vsnprintf(line + prefix_length, text_length + 1, format, arguments);
    line[length - 1] = '\n';
    log_line_copy(log_line_copy_context, line, length);
    mem_free(line);
}

} // namespace

void log_setup(int threshold, LogSink sink, void *context) {
    log_threshold = threshold;
    log_sink = sink;
    log_sink_context = context;
}

void log_message(int level, const char *format, ...) {
    int depth = log_depth++;
    if (depth == 0 && level <= log_threshold && log_sink) {
        va_list arguments;
        va_start(arguments, format);
        log_sink(log_sink_context, level, format, arguments);
        va_end(arguments);
    }
    --log_depth;
}

int log_default_sink(void *stream, int level, const char *format, va_list arguments) {
    FILE *out = static_cast<FILE *>(stream);
    char line[LOG_LINE_BUFFER_SIZE];
    size_t prefix_length = strlen(log_format_prefix(line, level));
    va_list text_arguments;
    va_copy(text_arguments, arguments);
    int text_length =
        vsnprintf(line + prefix_length, sizeof line - prefix_length, format, text_arguments);
    va_end(text_arguments);
    size_t length = prefix_length + size_t(text_length < 0 ? 0 : text_length);
    if (length < sizeof line) {
        line[length] = '\n';
        fwrite(line, 1, length + 1, out);
        if (log_line_copy) log_line_copy(log_line_copy_context, line, length + 1);
        return 0;
    }
    if (log_line_copy) {
        va_list copy_arguments;
        va_copy(copy_arguments, arguments);
        copy_long_line(line, prefix_length, size_t(text_length), format, copy_arguments);
        va_end(copy_arguments);
    }
    // Too long for the buffer: the same bytes, in more than one call.
    fwrite(line, 1, prefix_length, out);
    vfprintf(out, format, arguments);
    fputc('\n', out);
    return 0;
}

char *log_format_prefix(char *buffer, int level) {
    int32_t date = 0;
    int32_t time = 0;
    log_read_clock(&date, &time);
    return log_compose_prefix(buffer, date, time, level);
}

char *log_compose_prefix(char *buffer, long date, long time, int level) {
    snprintf(buffer, LOG_PREFIX_SIZE, "%.8ld %.6ld %.1d ", date, time, level);
    return buffer;
}

void log_read_clock(int32_t *date, int32_t *time) {
    time_t now = ::time(nullptr);
    const struct tm *local = localtime(&now);
    if (!local) {
        *date = 0;
        *time = 0;
        return;
    }
    *date = local->tm_year * 10000 + local->tm_mon * 100 + local->tm_mday + 19000100;
    *time = local->tm_hour * 10000 + local->tm_min * 100 + local->tm_sec;
}

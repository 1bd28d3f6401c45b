#include "log.h"

#include "memory.h"

#include <cstdio>
#include <cstring>
#include <ctime>

int log_threshold = 3;
LogSink log_sink = nullptr;
void *log_sink_context = nullptr;
int log_depth = 0;

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

namespace {

// Whether a byte of a message is written escaped: a control byte other than TAB, or DEL, which a
// terminal would act on (move the cursor, erase, recolour) instead of showing.
bool is_escaped(unsigned char byte) {
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
}

// Collects a line and hands it to the stream in one write whenever it fits the buffer, in
// full-buffer writes otherwise.
struct LineWriter {
    FILE *out;
    char line[LOG_LINE_BUFFER_SIZE];
    size_t used;
};

void put_bytes(LineWriter *writer, const char *bytes, size_t count) {
    while (count > 0) {
        if (writer->used == sizeof writer->line) {
            fwrite(writer->line, 1, writer->used, writer->out);
            writer->used = 0;
        }
        size_t room = sizeof writer->line - writer->used;
        size_t taken = count < room ? count : room;
        memcpy(writer->line + writer->used, bytes, taken);
        writer->used += taken;
        bytes += taken;
        count -= taken;
    }
}

// The message's bytes, each escaped one as \xhh, so that every line holds one message and no
// terminal control.
void put_message(LineWriter *writer, const char *text, size_t length) {
    static const char HEX_DIGITS[] = "0123456789abcdef";
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (!is_escaped(byte)) continue;
        put_bytes(writer, text + start, i - start);
        char escaped[4] = {'\\', 'x', HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 15]};
        put_bytes(writer, escaped, sizeof escaped);
        start = i + 1;
    }
    put_bytes(writer, text + start, length - start);
}

} // namespace

int log_default_sink(void *stream, int level, const char *format, va_list arguments) {
    LineWriter writer;
    writer.out = static_cast<FILE *>(stream);
    writer.used = strlen(log_format_prefix(writer.line, level));
    char text[LOG_LINE_BUFFER_SIZE];
    va_list text_arguments;
    va_copy(text_arguments, arguments);
    int text_length = vsnprintf(text, sizeof text, format, text_arguments);
    va_end(text_arguments);
    if (text_length < 0) text_length = 0;
    if (size_t(text_length) < sizeof text) {
        put_message(&writer, text, size_t(text_length));
    } else {
        // Too long for the buffer on the stack: formatted again into a block of its size, or,
        // without memory, cut to what the buffer held.
        char *whole = static_cast<char *>(mem_calloc(1, size_t(text_length) + 1));
        if (whole) vsnprintf(whole, size_t(text_length) + 1, format, arguments);
        put_message(&writer, whole ? whole : text, whole ? size_t(text_length) : sizeof text - 1);
        mem_free(whole);
    }
    put_bytes(&writer, "\n", 1);
    fwrite(writer.line, 1, writer.used, writer.out);
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

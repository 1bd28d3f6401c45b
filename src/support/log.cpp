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

// Whether a byte of a message is written escaped: a control byte other than TAB, or DEL, which a
// terminal would act on (move the cursor, erase, recolour) instead of showing.
bool is_escaped(unsigned char byte) {
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
}

// How many bytes from text[i] on are written escaped: 1 for a control byte, 2 for a C1 control
// in UTF-8 (U+0080 to U+009F: C2 80 to C2 9F; U+009B starts a sequence as ESC [ does in a
// terminal that reads UTF-8 controls), 0 otherwise.
size_t escaped_bytes(const char *text, size_t i, size_t length) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (is_escaped(byte)) return 1;
    if (byte != 0xC2 || i + 1 == length) return 0;
    unsigned char next = static_cast<unsigned char>(text[i + 1]);
    return next >= 0x80 && next <= 0x9F ? 2 : 0;
}

// The length of the message once each escaped byte is written as \xhh.
size_t escaped_length(const char *text, size_t length) {
    size_t escaped = length;
    for (size_t i = 0; i < length; ++i) {
        size_t bytes = escaped_bytes(text, i, length);
        escaped += 3 * bytes;
        if (bytes == 2) ++i;
    }
    return escaped;
}

// Writes the message into out (escaped_length bytes of room), each escaped byte as \xhh, so that
// every line holds one message and no terminal control. Returns the bytes written.
size_t put_escaped(char *out, const char *text, size_t length) {
    static const char HEX_DIGITS[] = "0123456789abcdef";
    size_t used = 0;
    for (size_t i = 0; i < length;) {
        size_t bytes = escaped_bytes(text, i, length);
        if (bytes == 0) {
            out[used++] = text[i++];
            continue;
        }
        for (size_t end = i + bytes; i < end; ++i) {
            unsigned char byte = static_cast<unsigned char>(text[i]);
            out[used++] = '\\';
            out[used++] = 'x';
            out[used++] = HEX_DIGITS[byte >> 4];
            out[used++] = HEX_DIGITS[byte & 15];
        }
    }
    return used;
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
    char prefix[LOG_PREFIX_SIZE];
    size_t prefix_length = strlen(log_format_prefix(prefix, level));
    char text[LOG_LINE_BUFFER_SIZE];
    va_list text_arguments;
    va_copy(text_arguments, arguments);
    int formatted = vsnprintf(text, sizeof text, format, text_arguments);
    va_end(text_arguments);
    size_t text_length = formatted < 0 ? 0 : size_t(formatted);
    const char *message = text;
    char *whole = nullptr;
    // A message longer than the buffer is formatted again in a block of its own.
    if (text_length >= sizeof text) {
        whole = static_cast<char *>(mem_calloc(1, text_length + 1));
        if (whole) vsnprintf(whole, text_length + 1, format, arguments);
        message = whole ? whole : text;
        if (!whole) text_length = sizeof text - 1;
    }
    char buffer[LOG_LINE_BUFFER_SIZE];
    size_t length = prefix_length + escaped_length(message, text_length) + 1;
    char *line = length <= sizeof buffer ? buffer : static_cast<char *>(mem_calloc(1, length));
    if (!line) {
        // Without memory the line is cut to what the buffer holds.
        line = buffer;
        while (prefix_length + escaped_length(message, text_length) + 1 > sizeof buffer)
            --text_length;
    }
    memcpy(line, prefix, prefix_length);
    size_t used = prefix_length + put_escaped(line + prefix_length, message, text_length);
    line[used++] = '\n';
    // One write for the whole line, to the stream and to the copy alike.
    fwrite(line, 1, used, out);
    if (log_line_copy) log_line_copy(log_line_copy_context, line, used);
    if (line != buffer) mem_free(line);
    mem_free(whole);
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

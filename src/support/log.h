// The levelled log: one printf-style entry point and a replaceable sink.
//
// A message is written only when its level is at most log_threshold, a sink is installed, and
// no other log_message call is in progress (a message logged from inside a sink is dropped).
// The default sink writes one line per message to a stdio stream, prefixed with the local date,
// time and level: "YYYYMMDD HHMMSS L ".
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Receives every message that passes the threshold; its result is ignored.
typedef int (*LogSink)(void *context, int level, const char *format, va_list arguments);

extern int log_threshold;      // 3 until set
extern LogSink log_sink;       // null: nothing is written
extern void *log_sink_context; // handed to the sink unchanged
extern int log_depth;          // log_message calls in progress

// Stores the threshold, the sink and its context. No check of the threshold.
void log_setup(int threshold, LogSink sink, void *context);

void log_message(int level, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// A second destination for the lines of the default sink, such as a log file: it receives each
// line as composed for the stream, line end included, whole in one call. Null: none.
typedef void (*LogLineCopy)(void *context, const char *line, size_t length);
extern LogLineCopy log_line_copy;
extern void *log_line_copy_context;

// The default sink: context is the FILE * to write to. A line of up to LOG_LINE_BUFFER_SIZE
// bytes, line end included, is composed first and handed to the stream in one call, so that the
// lines of two processes sharing the stream (the hub and its relaunched copy) do not interleave;
// a longer line is composed in a block of its own and also written in one call (without memory
// for it, it is cut to what LOG_LINE_BUFFER_SIZE holds). Each byte of the message below 0x20 other than TAB,
// and 0x7F, is written as \xhh (two lower-case hex digits), so that a line holds one message and
// nothing a terminal acts on; every other byte is written as it is.
int log_default_sink(void *stream, int level, const char *format, va_list arguments);

// On a pipe, a write of up to 4096 bytes (PIPE_BUF on Linux) is never split by another writer.
enum : int { LOG_LINE_BUFFER_SIZE = 4096 };

// Room for the prefix of any int level (and of any date the clock can give).
enum : int { LOG_PREFIX_SIZE = 48 };

// Writes the line prefix for the current local time into buffer (LOG_PREFIX_SIZE bytes) and
// returns buffer.
char *log_format_prefix(char *buffer, int level);

// Writes the prefix for a given date (YYYYMMDD) and time (HHMMSS); returns buffer.
char *log_compose_prefix(char *buffer, long date, long time, int level);

// Local date as YYYYMMDD and time as HHMMSS; both 0 when no local time is available.
void log_read_clock(int32_t *date, int32_t *time);

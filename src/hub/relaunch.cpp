#include "relaunch.h"

#include "copy_file.h"
#include "platform.h"
#include "support/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char COPY_NAME[] = "quorcpy.exe";
const int ERROR_SAME_FILE = 22;

// Appends to a fixed-size text and remembers when something did not fit.
struct LineWriter {
    char *data;
    size_t size;
    size_t used;
    bool overflow;
};

void put(LineWriter *line, const char *text, size_t length) {
    if (line->overflow || line->used + length >= line->size) {
        line->overflow = true;
        return;
    }
    memcpy(line->data + line->used, text, length);
    line->used += length;
    line->data[line->used] = '\0';
}

void put_repeated(LineWriter *line, char c, size_t count) {
    for (size_t i = 0; i < count; ++i)
        put(line, &c, 1);
}

bool needs_quotes(const char *argument) {
    return argument[0] == '\0' || strpbrk(argument, " \t\"") != nullptr;
}

// Quotes an argument so that the C runtime splits it back to exactly this text: backslashes
// are doubled before a double quote and before the closing quote, and a double quote gets a
// backslash.
void put_quoted(LineWriter *line, const char *argument) {
    put(line, "\"", 1);
    for (const char *p = argument;; ++p) {
        size_t backslashes = 0;
        while (*p == '\\') {
            ++backslashes;
            ++p;
        }
        if (*p == '\0') {
            put_repeated(line, '\\', backslashes * 2);
            break;
        }
        if (*p == '"') {
            put_repeated(line, '\\', backslashes * 2 + 1);
        } else {
            put_repeated(line, '\\', backslashes);
        }
        put(line, p, 1);
    }
    put(line, "\"", 1);
}

} // namespace

bool compose_relaunch_command_line(char *line, size_t size, int count, char **arguments) {
    LineWriter writer = {line, size, 0, size == 0};
    if (size > 0) line[0] = '\0';
    put(&writer, COPY_NAME, strlen(COPY_NAME));
    put(&writer, " --start", 8);
    for (int i = 1; i < count; ++i) {
        put(&writer, " ", 1);
        if (needs_quotes(arguments[i]))
            put_quoted(&writer, arguments[i]);
        else
            put(&writer, arguments[i], strlen(arguments[i]));
    }
    return !writer.overflow;
}

int relaunch_self(const char *own_directory, const char *own_file, int count, char **arguments) {
    char command_line[COMMAND_LINE_SIZE];
    if (!compose_relaunch_command_line(command_line, sizeof command_line, count, arguments))
        return E2BIG;
    char copy_path[COPY_PATH_SIZE];
    snprintf(copy_path, sizeof copy_path, "%s%c%s", own_directory, platform_separator, COPY_NAME);
    // A relaunch from the copy itself would copy it onto itself.
    if (platform_same_file(copy_path, own_file)) return ERROR_SAME_FILE;
    int result = copy_file(copy_path, own_file);
    if (result != 0) return result;
    log_message(0, "Command Line: %s - Exec Path: %s", command_line, own_directory);
    return platform_start_copy(command_line, copy_path, own_directory, count, arguments);
}

// The log file of -logfile: the lines of the log, appended to a file as well as written to
// standard error.
#pragma once

// A log file larger than this at the start of a run is renamed to FILE.1 first.
enum : unsigned long { LOG_FILE_LIMIT = 1024ul * 1024ul };

struct LogFileStart {
    int open_error;   // 0, or the error number of opening the file (no line reaches it then)
    int rotate_error; // 0, or the error number of renaming a full file to FILE.1
};

// Renames the file to name followed by ".1" (replacing an older one) when it is larger than
// LOG_FILE_LIMIT, opens it for appending (created when it is missing), and has the default log
// sink append every line it writes to it, in one write per line.
LogFileStart start_log_file(const char *name);

// Stops copying lines and closes the file.
void stop_log_file();

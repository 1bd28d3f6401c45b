#include "entry.h"

#include "cycle_outcome.h"
#include "cycle_report.h"
#include "log_file.h"
#include "platform.h"
#include "relaunch.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/text_buffer.h"
#include "update_cycle.h"
#include "usage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int HIGHEST_LOG_LEVEL = 7;
const unsigned long FULL_PATH_SIZE = 32768; // the longest path Windows knows

struct RunMode {
    bool start;
    bool status;
    bool strict;
    const char *configuration_path;
    const char *report_path;
    const char *log_path;
};

RunMode scan_options(int count, char **arguments) {
    RunMode mode = {false, false, false, nullptr, nullptr, nullptr};
    for (int i = 0; i < count; ++i) {
        if (strcmp(arguments[i], "--start") == 0) {
            mode.start = true;
        } else if (strcmp(arguments[i], "-config") == 0) {
            if (i + 1 < count) mode.configuration_path = arguments[++i];
        } else if (strcmp(arguments[i], "--status") == 0) {
            mode.status = true;
        } else if (strcmp(arguments[i], "--strict") == 0) {
            mode.strict = true;
        } else if (strcmp(arguments[i], "-report") == 0) {
            if (i + 1 < count) mode.report_path = arguments[++i];
        } else if (strcmp(arguments[i], "-logfile") == 0) {
            if (i + 1 < count) mode.log_path = arguments[++i];
        }
    }
    return mode;
}

// A cycle whose outcomes are recorded, for its report and for --strict.
int run_recorded_cycle(const RunMode &mode, char *own_directory) {
    CycleOutcome outcome;
    cycle_outcome_init(&outcome, mode.status, mode.configuration_path);
    int result = mode.configuration_path ? run_update_cycle(mode.configuration_path, mode.status,
                                                            own_directory, &outcome)
                                         : int(EXIT_NO_CONFIGURATION);
    if (mode.strict && result == 0 && outcome.failed_sources > 0) result = EXIT_FAILED_SOURCES;
    cycle_outcome_finish(&outcome, result);
    if (mode.report_path) write_cycle_report(mode.report_path, &outcome, mode.strict);
    cycle_outcome_free(&outcome);
    return result;
}

int run(const RunMode &mode, char *own_directory, const char *own_file, int count,
        char **arguments) {
    if (!mode.start && !mode.status)
        return relaunch_self(own_directory, own_file, count, arguments);
    if (mode.report_path || mode.strict) return run_recorded_cycle(mode, own_directory);
    if (!mode.configuration_path) return EXIT_NO_CONFIGURATION;
    return run_update_cycle(mode.configuration_path, mode.status, own_directory);
}

// The file the hub runs from: the program path when it has a folder part and names the running
// file, as always; otherwise (a program found through PATH, or a path that names another file)
// the running file as the system names it. The program path when the system cannot say.
const char *own_program_file(const char *program_path, TextBuffer *system_name) {
    if (platform_own_file(system_name) != 0) return program_path;
    if (strpbrk(program_path, platform_separators) &&
        platform_names_same_file(program_path, system_name->data))
        return program_path;
    return system_name->data;
}

} // namespace

void scan_log_level(int count, char **arguments) {
    for (int i = 0; i < count; ++i) {
        if (strcmp(arguments[i], "-loglevel") != 0) continue;
        if (i + 1 < count) {
            long level = strtol(arguments[i + 1], nullptr, 10);
            if (level >= 0 && level <= HIGHEST_LOG_LEVEL) log_threshold = int(level);
        }
        return;
    }
}

bool resolve_own_directory(const char *program_path, char *directory) {
    // The full path may be longer than the directory buffer; only the directory must fit.
    static char full_path[FULL_PATH_SIZE];
    char *file_part = nullptr;
    unsigned long length = platform_full_path(program_path, FULL_PATH_SIZE, full_path, &file_part);
    if (length == 0 || length >= FULL_PATH_SIZE || !file_part) return false;
    size_t directory_length = file_part == full_path ? length : size_t(file_part - full_path - 1);
    if (directory_length >= OWN_DIRECTORY_SIZE ||
        platform_path_length(full_path, directory_length) >= OWN_DIRECTORY_LIMIT)
        return false;
    memcpy(directory, full_path, directory_length);
    directory[directory_length] = '\0';
    return true;
}

int hub_main(int count, char **arguments) {
    // A question about the program itself runs nothing, so it logs nothing either.
    HubQuery query = find_query(count, arguments);
    if (query != HUB_QUERY_NONE) return answer_query(query, stdout);
    platform_ignore_broken_pipe();
    log_setup(DEFAULT_LOG_LEVEL, log_default_sink, stderr);
    scan_log_level(count, arguments);
    RunMode mode = scan_options(count, arguments);
    LogFileStart log_file = {0, 0};
    if (mode.log_path) log_file = start_log_file(mode.log_path);
    const char *program_path = count > 0 ? arguments[0] : "";
    log_message(0, "%s v.%d.%d", program_path, HUB_VERSION_MAJOR, HUB_VERSION_MINOR);
    if (log_file.rotate_error != 0)
        log_message(0, "Log file: [%s.1] ... FAIL(%d)", mode.log_path, log_file.rotate_error);
    if (log_file.open_error != 0)
        log_message(0, "Log file: [%s] ... FAIL(%d)", mode.log_path, log_file.open_error);
    TextBuffer system_name;
    text_buffer_init(&system_name);
    const char *own_file = own_program_file(program_path, &system_name);
    char own_directory[OWN_DIRECTORY_SIZE];
    int result = ENAMETOOLONG;
    if (resolve_own_directory(own_file, own_directory))
        result = run(mode, own_directory, own_file, count, arguments);
    mem_free(system_name.data);
    log_message(0, "Exit code: %d", result);
    if (mode.log_path) stop_log_file();
    return result;
}

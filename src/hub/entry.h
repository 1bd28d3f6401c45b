// The program's entry: logging, options, run mode and exit code.
#pragma once

enum : int {
    HUB_VERSION_MAJOR = 1,
    HUB_VERSION_MINOR = 4,
    HUB_VERSION_PATCH = 0, // shown by --version only; the banner shows major and minor
    DEFAULT_LOG_LEVEL = 3,
    EXIT_NO_CONFIGURATION = 2, // --start or --status without a configuration path
    // --strict: every source was walked but at least one failed. Outside every errno and the
    // Win32 errors a failed start gives (241 to 253 are unassigned), and distinct from -1 and -2
    // in the 8 bits a POSIX shell sees.
    EXIT_FAILED_SOURCES = 250,
};

// Runs the hub with the program's arguments and returns the process exit code.
//   "--help" or "--version" alone  print the usage text or the version on standard output
//                                and exit with 0; nothing is logged, copied or started
//   no --start or --status   relaunch: copy to quorcpy.exe, start it with --start, exit
//   --start / --status       run the update cycle on the file after -config (status mode with
//                            --status), or exit with 2 without one
// Options match whole arguments, case-sensitively; "-loglevel N" sets the log threshold (0-7).
// "-report FILE" writes a JSON report of the cycle to FILE; "-logfile FILE" appends the log to
// FILE too; "--strict" ends a cycle whose sources were all walked but not all ok with 250.
int hub_main(int count, char **arguments);

// Applies the value after the first "-loglevel" to the log threshold when it is 0 to 7.
void scan_log_level(int count, char **arguments);

// Fills directory (OWN_DIRECTORY_SIZE bytes) with the full directory of program_path, without a
// trailing separator. False when it cannot be resolved or the directory does not fit (it may
// hold 259 characters as the platform counts them, UTF-16 units on Windows and bytes elsewhere;
// the program's file name comes on top).
bool resolve_own_directory(const char *program_path, char *directory);

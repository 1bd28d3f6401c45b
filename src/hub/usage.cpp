#include "usage.h"

#include "entry.h"

#include <cerrno>
#include <cstring>

namespace {

const char USAGE_TEXT[] =
    "Usage: update-hub [-config FILE] [--start] [--status] [-loglevel N]\n"
    "                  [-report FILE] [-logfile FILE] [--strict] [other arguments]\n"
    "       update-hub --help | --version\n"
    "\n"
    "Runs the query command of every source in the configuration FILE, reads the JSON\n"
    "response each one writes, and runs the configured updater with the modules it lists.\n"
    "\n"
    "Modes:\n"
    "  without --start and --status  relaunch: copy this program to quorcpy.exe in its own\n"
    "                                directory, start the copy there with --start in front of\n"
    "                                all the arguments, and exit without waiting for it\n"
    "  --start -config FILE          run one update cycle on FILE\n"
    "  --status -config FILE         query the sources only; their responses stay on disk\n"
    "\n"
    "Options (whole, case-sensitive arguments; all others are passed on to the copy):\n"
    "  -config FILE   the configuration; the last one given counts\n"
    "  -loglevel N    log threshold, 0 to 7 (default 3: only banner, relaunch and exit code)\n"
    "  -report FILE   after the cycle, replace FILE with a JSON report of what every source\n"
    "                 and step did (docs/report.md), also when the cycle ended early\n"
    "  -logfile FILE  append the log lines to FILE too; a FILE above 1 MiB is first renamed\n"
    "                 to FILE.1\n"
    "  --strict       exit with 250 when every source was walked but one of them failed\n"
    "  --help         this text, when it is the only argument\n"
    "  --version      the version, when it is the only argument\n"
    "\n"
    "Exit codes:\n"
    "  0      relaunch: the copy was started; update cycle: every source was walked\n"
    "  2      --start or --status without -config FILE, or FILE does not exist\n"
    "  7      the copy's command line would be longer than 4095 characters\n"
    "  12     out of memory\n"
    "  16     another update cycle over the same configuration is running; nothing was done\n"
    "  22     the configuration does not parse, or a required member is missing or wrong\n"
    "         (an updater whose path holds a double quote, or, on Windows, a script that\n"
    "         cmd.exe would not run)\n"
    "  250    --strict only: every source was walked, but a query, a response, an updater\n"
    "         run or the registration failed\n"
    "  -1 -2  a read or write error, or a file that cannot be opened, while copying a program\n"
    "  other  the system's error number: the configuration cannot be read, the copy cannot\n"
    "         be started, or the program's directory is too long\n"
    "\n"
    "Log: one line per message on standard error, \"YYYYMMDD HHMMSS LEVEL text\", and in the\n"
    "-logfile FILE. A source that fails shows only at -loglevel 6 or 7, in the -report FILE\n"
    "and with --strict. A relaunch exits 0 once its copy started, whatever the cycle then\n"
    "does: run with --start to get the cycle's exit code.\n";

int write_text(FILE *out, const char *text) {
    bool written = fputs(text, out) >= 0;
    if (fflush(out) != 0) written = false;
    return written ? 0 : EIO;
}

} // namespace

HubQuery find_query(int count, char **arguments) {
    if (count != 2) return HUB_QUERY_NONE;
    if (strcmp(arguments[1], "--help") == 0) return HUB_QUERY_HELP;
    if (strcmp(arguments[1], "--version") == 0) return HUB_QUERY_VERSION;
    return HUB_QUERY_NONE;
}

int answer_query(HubQuery query, FILE *out) {
    if (query == HUB_QUERY_HELP) return write_text(out, USAGE_TEXT);
    char version[64];
    snprintf(version, sizeof version, "update-hub %d.%d.%d\n", HUB_VERSION_MAJOR, HUB_VERSION_MINOR,
             HUB_VERSION_PATCH);
    return write_text(out, version);
}

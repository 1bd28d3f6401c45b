// Processes on Windows: the relaunch copy through CreateProcessW, and commands through the
// command interpreter (started with switches that no setting of the machine can change), in a
// job of their own when they have a timeout.
#include "platform.h"
#include "platform_win32_internal.h"

#include "support/memory.h"
#include "wide_text_win32.h"

#include <windows.h>

#include <errno.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

const DWORD RELAUNCH_CREATION_FLAGS =
    CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT;

// The longest command line cmd.exe accepts, in UTF-16 units; it answers a longer one with its
// own error and exit status 1, which would read as "NO UPDATE".
const size_t INTERPRETER_LINE_LIMIT = 8191;

// The exit status a command gets when it is ended for running past its timeout.
const DWORD TIMED_OUT_STATUS = ERROR_TIMEOUT;

// How long to wait for a job's processes to go once they were told to end.
const DWORD TERMINATION_WAIT = 10000;

// The switches the interpreter is started with: /d skips the AutoRun commands of the registry
// and /v:off turns delayed expansion off, so that no setting of the machine or the account
// changes the line (with delayed expansion on, !NAME! in a response would expand). /c keeps
// the reading of the outer quotes that system() gives.
const wchar_t INTERPRETER_SWITCHES[] = L" /d /v:off /c ";

// The interpreter's line: the interpreter named by COMSPEC, the switches and the command. Null
// (errno set) without memory.
wchar_t *interpreter_line(const wchar_t *interpreter, const wchar_t *command) {
    size_t length = wcslen(interpreter) + wcslen(INTERPRETER_SWITCHES) + wcslen(command);
    wchar_t *line = static_cast<wchar_t *>(mem_calloc(length + 1, sizeof(wchar_t)));
    if (!line) {
        errno = ENOMEM;
        return nullptr;
    }
    wcscpy(line, interpreter);
    wcscat(line, INTERPRETER_SWITCHES);
    wcscat(line, command);
    return line;
}

// Waits for the process in its job; past the timeout ends the whole job and records
// TIMED_OUT_STATUS. Returns the exit status.
int wait_within(HANDLE job, HANDLE process, DWORD timeout, bool *timed_out) {
    if (WaitForSingleObject(process, timeout) == WAIT_TIMEOUT) {
        *timed_out = true;
        TerminateJobObject(job, TIMED_OUT_STATUS);
        WaitForSingleObject(process, TERMINATION_WAIT);
        return int(TIMED_OUT_STATUS);
    }
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    return int(status);
}

// Whether the job's processes end when its last handle closes: while the command runs, so that
// a hub that is killed ends it too; not after it ended in time, so that what it left running
// in the background stays, as without a timeout.
bool end_with_the_hub(HANDLE job, bool end) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = end ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits) != 0;
}

// The interpreter's line for a command, as interpreter_line makes it.
wchar_t *command_interpreter_line(const wchar_t *command) {
    const wchar_t *interpreter = _wgetenv(L"COMSPEC");
    if (!interpreter || !*interpreter) interpreter = L"cmd.exe";
    return interpreter_line(interpreter, command);
}

// Runs the interpreter on a command without a timeout and waits for it, as system() does.
int run_interpreter(const wchar_t *command) {
    wchar_t *line = command_interpreter_line(command);
    if (!line) return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    bool started = CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    int error = started ? 0 : errno_of(GetLastError());
    mem_free(line);
    if (!started) {
        errno = error;
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(status);
}

// Runs the interpreter in a job of its own, so that a command still running at the timeout is
// ended with every process it started.
int run_in_job(const wchar_t *command, DWORD timeout, bool *timed_out) {
    wchar_t *line = command_interpreter_line(command);
    if (!line) return -1;
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job && !end_with_the_hub(job, true)) {
        CloseHandle(job);
        job = nullptr;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    bool started = job && CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                         nullptr, nullptr, &startup, &process);
    int error = started ? 0 : errno_of(GetLastError());
    mem_free(line);
    // A command that could not be bounded does not run at all.
    if (started && !AssignProcessToJobObject(job, process.hProcess)) {
        error = errno_of(GetLastError());
        TerminateProcess(process.hProcess, TIMED_OUT_STATUS);
    }
    int status = -1;
    if (started && error == 0) {
        ResumeThread(process.hThread);
        status = wait_within(job, process.hProcess, timeout, timed_out);
        if (!*timed_out) end_with_the_hub(job, false);
    }
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (job) CloseHandle(job);
    if (status == -1) errno = error ? error : ENOMEM;
    return status;
}

// The folder a process is started in, for a directory without a trailing separator: a bare
// drive ("Q:") would mean that drive's current folder, so it becomes the drive's root, Q:\.
// A block to release with mem_free; null (errno set) when it cannot be made.
wchar_t *working_folder(const char *directory) {
    int units = 0;
    wchar_t *wide = wide_from_utf8(directory, -1, &units);
    if (!wide || units != 2 || wide[1] != L':') return wide;
    wchar_t *root = static_cast<wchar_t *>(mem_calloc(4, sizeof(wchar_t)));
    if (root) {
        root[0] = wide[0];
        root[1] = L':';
        root[2] = L'\\';
    } else {
        errno = ENOMEM;
    }
    mem_free(wide);
    return root;
}

bool start_relaunch_copy(wchar_t *line, const wchar_t *directory, DWORD flags) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, flags, nullptr, directory, &startup,
                        &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// Starts the relaunch copy outside the job of whatever started the hub, which may end its job's
// processes as soon as the hub exits; a job that allows no breaking away refuses that, and the
// copy then starts in it, as before. Returns 0 or the Win32 error.
int start_outside_the_job(wchar_t *line, const wchar_t *directory) {
    if (start_relaunch_copy(line, directory, RELAUNCH_CREATION_FLAGS | CREATE_BREAKAWAY_FROM_JOB))
        return 0;
    DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED) return int(error);
    return start_relaunch_copy(line, directory, RELAUNCH_CREATION_FLAGS) ? 0 : int(GetLastError());
}

} // namespace

int platform_start_copy(char *command_line, const char *, const char *directory, int, char **) {
    wchar_t *wide_line = wide_from_utf8(command_line);
    wchar_t *wide_directory = working_folder(directory);
    int error = 0;
    if (!wide_line || !wide_directory) {
        error = errno == EILSEQ ? ERROR_NO_UNICODE_TRANSLATION : ERROR_NOT_ENOUGH_MEMORY;
    } else {
        error = start_outside_the_job(wide_line, wide_directory);
    }
    mem_free(wide_line);
    mem_free(wide_directory);
    return error;
}

int platform_run_command(const char *wrapped_command, unsigned long timeout_milliseconds,
                         int *exit_status, bool *timed_out) {
    *timed_out = false;
    int units = 0;
    wchar_t *command = wide_from_utf8(wrapped_command, -1, &units);
    if (!command) return errno;
    if (size_t(units) > INTERPRETER_LINE_LIMIT) {
        mem_free(command);
        return E2BIG;
    }
    if (timeout_milliseconds == 0)
        *exit_status = run_interpreter(command);
    else
        *exit_status = run_in_job(command, DWORD(timeout_milliseconds), timed_out);
    int error = errno;
    mem_free(command);
    errno = error;
    return 0;
}

// A launcher as remote command hosts and build agents are: it runs a command in a job that
// ends every process in it when the launcher ends, waits for the command and exits with its
// status. Also a squatter that holds a named mutex.
//   hub-job-launcher [--no-breakaway] PROGRAM [ARGUMENT...]   (joined by blanks, unquoted)
//   hub-job-launcher --hold-mutex NAME FILE   (creates FILE once it holds the mutex; a minute)
// With --no-breakaway the job lets no process break away from it.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t **argv) {
    if (argc == 4 && wcscmp(argv[1], L"--hold-mutex") == 0) {
        if (!CreateMutexW(nullptr, TRUE, argv[2])) return 104;
        FILE *signal = _wfopen(argv[3], L"w");
        if (signal) fclose(signal);
        Sleep(60000);
        return 0;
    }
    int first = 1;
    bool breakaway = true;
    if (argc > 2 && wcscmp(argv[1], L"--no-breakaway") == 0) {
        breakaway = false;
        first = 2;
    }
    if (argc <= first) return 100;
    wchar_t line[8192] = L"";
    for (int i = first; i < argc; ++i) {
        if (i > first) wcscat(line, L" ");
        if (wcslen(line) + wcslen(argv[i]) + 2 >= 8192) return 100;
        wcscat(line, argv[i]);
    }
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | (breakaway ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
    if (!job ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return 101;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &process))
        return 102;
    if (!AssignProcessToJobObject(job, process.hProcess)) {
        TerminateProcess(process.hProcess, 103);
        return 103;
    }
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    return int(status);
}

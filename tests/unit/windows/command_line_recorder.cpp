// A stand-in for the command interpreter: writes the command line it was started with, as
// UTF-8, to "interpreter-line.txt" in its current directory and exits with status 7.
#include <windows.h>

#include <stdio.h>

int wmain() {
    const wchar_t *line = GetCommandLineW();
    char text[32768];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, nullptr, nullptr);
    FILE *file = _wfopen(L"interpreter-line.txt", L"wb");
    if (!file || bytes <= 0) return 1;
    fwrite(text, 1, size_t(bytes - 1), file);
    fclose(file);
    return 7;
}

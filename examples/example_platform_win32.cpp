#include "example_platform.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t *text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size_t(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], bytes, nullptr, nullptr);
    return result;
}

std::wstring wide(const char *text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(size_t(units > 0 ? units - 1 : 0), L'\0');
    if (units > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, &result[0], units);
    return result;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    std::vector<std::string> texts;
    for (int i = 0; i < argc; ++i)
        texts.push_back(utf8(argv[i]));
    std::vector<char *> arguments;
    for (std::string &text : texts)
        arguments.push_back(&text[0]);
    arguments.push_back(nullptr);
    return example_main(argc, arguments.data());
}

FILE *example_fopen(const char *name, const char *mode) {
    return _wfopen(wide(name).c_str(), wide(mode).c_str());
}

bool example_start_again(const char *const *arguments) {
    wchar_t program[MAX_PATH];
    if (GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) return false;
    std::wstring line = L"\"" + std::wstring(program) + L"\"";
    for (const char *const *argument = arguments; *argument; ++argument)
        line += L" \"" + wide(*argument) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void example_sleep(double seconds) {
    Sleep(DWORD(seconds * 1000));
}

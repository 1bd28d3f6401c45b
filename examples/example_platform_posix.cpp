#include "example_platform.h"

#include <chrono>
#include <spawn.h>
#include <thread>
#include <vector>

extern char **environ;

int main(int argc, char **argv) {
    return example_main(argc, argv);
}

FILE *example_fopen(const char *name, const char *mode) {
    return fopen(name, mode);
}

bool example_start_again(const char *const *arguments) {
    std::vector<char *> argv = {const_cast<char *>("example")};
    for (const char *const *argument = arguments; *argument; ++argument)
        argv.push_back(const_cast<char *>(*argument));
    argv.push_back(nullptr);
    pid_t child = 0;
    return posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) == 0;
}

void example_sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

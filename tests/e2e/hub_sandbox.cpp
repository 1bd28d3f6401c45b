#include "hub_sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {

std::string environment(const char *name) {
    const char *value = getenv(name);
    return value ? value : "";
}

void copy_executable(const std::string &from, const std::string &to) {
    ASSERT_TRUE(fs::exists(from)) << from << " is missing: build it first";
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
}

// Reads everything the pipe delivers until it closes or the deadline passes.
bool read_until_closed(int fd, std::string *out, int timeout_seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd poll_fd = {fd, POLLIN, 0};
        int ready = poll(&poll_fd, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return true;
        out->append(buffer, size_t(count));
    }
}

// Reads until the pipe has delivered `lines` line ends (or closed), or the deadline passes.
bool read_lines(int fd, std::string *out, int lines, int timeout_seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    while (std::count(out->begin(), out->end(), '\n') < lines) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd poll_fd = {fd, POLLIN, 0};
        int ready = poll(&poll_fd, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char byte = 0; // one at a time, so that nothing behind the last line is taken
        ssize_t count = read(fd, &byte, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return true;
        out->push_back(byte);
    }
    return true;
}

// Waits for the child to exit, at most the timeout; false when it is still running then.
bool wait_within(pid_t child, int *status, int timeout_seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    for (;;) {
        pid_t done = waitpid(child, status, WNOHANG);
        if (done == child) return true;
        if (done < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool all_digits(const std::string &text, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    return true;
}

// Splits "YYYYMMDD HHMMSS L text" into level and text; false for any other shape. (No regex:
// the lines of a dumped document can be megabytes long.)
bool parse_line(const std::string &line, HubLogLine *parsed) {
    if (!all_digits(line, 0, 8) || line.size() < 18 || line[8] != ' ' || !all_digits(line, 9, 6) ||
        line[15] != ' ')
        return false;
    size_t level_start = 16;
    size_t level_end = level_start + (line[level_start] == '-');
    while (level_end < line.size() && line[level_end] >= '0' && line[level_end] <= '9')
        ++level_end;
    if (level_end == level_start || level_end >= line.size() || line[level_end] != ' ')
        return false;
    parsed->level = std::stoi(line.substr(level_start, level_end - level_start));
    parsed->text = line.substr(level_end + 1);
    return true;
}

void parse_lines(const std::string &text, HubRun *run) {
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        HubLogLine parsed;
        if (parse_line(line, &parsed))
            run->lines.push_back(parsed);
        else
            run->malformed.push_back(line);
    }
}

// Starts Wine's server and session processes once, detached from every test's pipes: a Wine
// process that has to start them would hand them its standard error, which would then stay
// open long after the hub exits.
void start_wine_session() {
    static bool started = false;
    if (started) return;
    started = true;
    std::string launcher = environment("HUB_LAUNCHER");
    std::string server = (fs::path(launcher).parent_path() / "wineserver").string();
    if (!fs::exists(server)) server = "wineserver";
    std::string command = server + " -p 60 </dev/null >/dev/null 2>&1; " + launcher +
                          " cmd /c exit </dev/null >/dev/null 2>&1";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot start Wine: " << command;
}

} // namespace

std::vector<std::string> HubRun::texts() const {
    std::vector<std::string> result;
    for (const auto &line : lines)
        result.push_back(line.text);
    return result;
}

std::vector<std::string> HubRun::texts_at(int level) const {
    std::vector<std::string> result;
    for (const auto &line : lines)
        if (line.level == level) result.push_back(line.text);
    return result;
}

bool HubRun::has(const std::string &text) const {
    return find(text) >= 0;
}

int HubRun::count(const std::string &text) const {
    int found = 0;
    for (const auto &line : lines)
        found += line.text == text;
    return found;
}

int HubRun::find(const std::string &text, int from) const {
    for (size_t i = size_t(from < 0 ? 0 : from); i < lines.size(); ++i)
        if (lines[i].text == text) return int(i);
    return -1;
}

bool HubSandbox::windows() {
    return !environment("HUB_LAUNCHER").empty();
}

std::string HubSandbox::hub_name() {
    return windows() ? "update-hub.exe" : "update-hub";
}

HubSandbox::HubSandbox() {
    if (windows()) start_wine_session();
    std::string base = (fs::temp_directory_path() / "hub-e2e-XXXXXX").string();
    std::vector<char> name(base.begin(), base.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        ADD_FAILURE() << "cannot make a temporary directory";
        return;
    }
    path_ = name.data();
    std::string hub = environment("HUB_EXE");
    std::string examples = environment("HUB_EXAMPLES_DIR");
    if (hub.empty()) hub = HUB_DEFAULT_EXE;
    if (examples.empty()) examples = HUB_DEFAULT_EXAMPLES_DIR;
    copy_executable(hub, path_ + "/" + hub_name());
    for (const char *example : {"example-query.exe", "example-updater.exe"})
        copy_executable(examples + "/" + example, path_ + "/" + example);
}

HubSandbox::~HubSandbox() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
}

bool HubSandbox::wrapped() {
    return !environment("HUB_WRAPPER").empty();
}

std::string HubSandbox::program_path() const {
    return windows() ? hub_path(hub_name()) : "./" + hub_name();
}

std::string HubSandbox::hub_path() const {
    if (!windows()) return path_;
    std::string path = "Z:" + path_;
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string HubSandbox::hub_path(const std::string &name) const {
    return hub_path() + (windows() ? "\\" : "/") + name;
}

void HubSandbox::write(const std::string &name, const std::string &content) const {
    std::ofstream file(path_ + "/" + name, std::ios::binary);
    file << content;
}

std::string HubSandbox::read(const std::string &name) const {
    std::ifstream file(path_ + "/" + name, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool HubSandbox::exists(const std::string &name) const {
    return fs::exists(path_ + "/" + name);
}

void HubSandbox::make_directory(const std::string &name) const {
    fs::create_directories(path_ + "/" + name);
}

HubRun HubSandbox::run(const std::vector<std::string> &arguments, const std::string &program_name,
                       int timeout_seconds) const {
    return run_at(path_, arguments, program_name, timeout_seconds);
}

HubRun HubSandbox::run_in(const std::string &subdirectory,
                          const std::vector<std::string> &arguments, int timeout_seconds) const {
    std::string directory = path_ + "/" + subdirectory;
    fs::create_directories(directory);
    fs::copy_file(path_ + "/" + hub_name(), directory + "/" + hub_name(),
                  fs::copy_options::overwrite_existing);
    return run_at(directory, arguments, "", timeout_seconds);
}

HubRun HubSandbox::run_at(const std::string &directory, const std::vector<std::string> &arguments,
                          const std::string &program_name, int timeout_seconds) const {
    std::vector<std::string> words;
    std::string program = directory + "/" + hub_name();
    std::string wrapper = environment("HUB_WRAPPER");
    if (windows()) {
        program = environment("HUB_LAUNCHER");
        words = {program, hub_name()};
    } else if (!wrapper.empty()) {
        std::istringstream wrapper_words(wrapper);
        for (std::string word; wrapper_words >> word;)
            words.push_back(word);
        program = words.front();
        words.push_back(program_name.empty() ? "./" + hub_name() : program_name);
    } else {
        words = {program_name.empty() ? "./" + hub_name() : program_name};
    }
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.insert(words.begin(), program);
    return spawn(directory, words, windows(), {}, -1, timeout_seconds);
}

HubRun HubSandbox::run_by_name(const std::string &subdirectory,
                               const std::vector<std::string> &arguments,
                               const std::string &program_name) const {
    std::string directory = path_ + "/" + subdirectory;
    fs::create_directories(directory);
    std::string name = program_name.empty() ? hub_name() : program_name;
    std::vector<std::string> words;
    std::vector<std::string> extra;
    if (windows()) {
        // Wine adds WINEPATH to the PATH of its programs.
        words = {environment("HUB_LAUNCHER"), "cmd", "/c", name};
        extra = {"WINEPATH=" + hub_path()};
    } else {
        // The shell's exec finds the program through PATH and passes its name as typed.
        words = {"/bin/sh", "-c", "exec \"$0\" \"$@\"", name};
        extra = {"PATH=" + path_ + ":" + environment("PATH")};
    }
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.insert(words.begin(), words.front());
    return spawn(directory, words, windows(), extra, -1, 120);
}

HubRun HubSandbox::run_closing_log(const std::vector<std::string> &arguments, int lines,
                                   int timeout_seconds) const {
    std::vector<std::string> words = {path_ + "/" + hub_name(), "./" + hub_name()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return spawn(path_, words, false, {}, lines, timeout_seconds);
}

HubRun HubSandbox::run_words(const std::vector<std::string> &words, int timeout_seconds) const {
    std::vector<std::string> all = words;
    if (windows()) all.insert(all.begin(), environment("HUB_LAUNCHER"));
    all.insert(all.begin(), all.front());
    return spawn(path_, all, all.front().find('/') == std::string::npos, {}, -1, timeout_seconds);
}

HubRun HubSandbox::run_in_cmd(const std::vector<std::string> &words, int timeout_seconds) const {
    std::vector<std::string> all = words;
    if (windows()) all.insert(all.begin(), {environment("HUB_LAUNCHER"), "cmd", "/c"});
    all.insert(all.begin(), all.front());
    return spawn(path_, all, true, {}, -1, timeout_seconds);
}

void HubSandbox::kill_running() const {
    int process = running_.load();
    if (process > 0) kill(process, SIGKILL);
}

// words[0] is the program to start, words[1..] its argument vector.
HubRun HubSandbox::spawn(const std::string &directory, std::vector<std::string> words,
                         bool search_path, const std::vector<std::string> &extra_environment,
                         int lines, int timeout_seconds) const {
    HubRun result{-1, {}, {}, {}, {}};
    std::string program = words.front();
    words.erase(words.begin());
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment_entries(extra_environment);
    for (char **entry = environ; *entry; ++entry) {
        std::string text = *entry;
        bool replaced = false;
        for (const std::string &extra : extra_environment)
            replaced |= text.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
        if (!replaced) environment_entries.push_back(text);
    }
    std::vector<char *> envp;
    for (auto &entry : environment_entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // Standard output goes to a file beside the sandbox, so that it never shows in the sandbox.
    // One file per run, so that runs on several threads at once keep theirs apart.
    static std::atomic<int> runs{0};
    std::string output_file = path_ + ".stdout." + std::to_string(runs++);
    posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
    pid_t child = 0;
    int error =
        search_path
            ? posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data())
            : posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    running_ = error == 0 ? int(child) : 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (error != 0) {
        close(pipe_fds[0]);
        ADD_FAILURE() << "cannot start " << program << ": " << strerror(error);
        return result;
    }
    std::string errors;
    bool closed = lines >= 0 ? read_lines(pipe_fds[0], &errors, lines, timeout_seconds)
                             : read_until_closed(pipe_fds[0], &errors, timeout_seconds);
    close(pipe_fds[0]);
    int status = 0;
    if (!closed || !wait_within(child, &status, timeout_seconds)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ADD_FAILURE() << "the hub did not finish within " << timeout_seconds << " s";
    }
    running_ = 0;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    parse_lines(errors, &result);
    result.output = errors;
    std::ifstream output(output_file, std::ios::binary);
    std::ostringstream output_text;
    output_text << output.rdbuf();
    result.standard_output = output_text.str();
    output.close();
    std::error_code ignored;
    fs::remove(output_file, ignored);
    return result;
}

std::string HubSandbox::wait_for_updater_runs(const std::string &name, int runs,
                                              int timeout_seconds) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    std::string content;
    while (std::chrono::steady_clock::now() < deadline) {
        content = read(name);
        if (int(updater_runs(content).size()) >= runs) {
            // Give the writer a moment to finish its last lines.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return read(name);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return content;
}

std::vector<std::vector<std::string>> updater_runs(const std::string &record) {
    std::vector<std::vector<std::string>> runs;
    std::istringstream stream(record);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "[run]")
            runs.emplace_back();
        else if (!runs.empty())
            runs.back().push_back(line);
    }
    return runs;
}

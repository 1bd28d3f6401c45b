// The hub's own cost: one update cycle over 50 sources, against the same child processes
// started by a plain shell loop.
//
// Set-up (once): a fresh directory holding update-hub, the example query and updater programs,
// an answer file and a configuration of 50 sources that all copy that answer. The hub is run
// once at log level 7; the commands it logs as "Executed: [...]" are the query, registration
// and updater command lines, and the shell loops are written from them. Each loop's updater
// record must equal the hub's, or the benchmark refuses to run.
//
//   cycle/update-hub          update-hub --start -config hub.json
//   cycle/shell-loop          one sh running a while loop that starts the same programs
//   cycle/shell-loop-sh-c     the same loop, each program started through its own sh -c, as
//                             the hub starts every command through the command interpreter
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const int SOURCE_COUNT = 50;

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Runs the program with its standard error going to error_path; returns its wait status.
int run(const std::vector<std::string> &arguments, const char *error_path = "/dev/null") {
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, error_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    int status = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(child, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

void copy_program(const std::string &from, const std::string &to) {
    run({"/bin/cp", "-p", from, to});
}

struct Workspace {
    std::string directory;
    std::string error; // set when the set-up failed
};

std::string configuration() {
    std::string text =
        "{\n  \"updater\": {\"application\": \"example-updater.exe\",\n"
        "    \"parameters\": [\"--record\", \"updater-arguments.txt\", \"-silent\"]},\n"
        "  \"sources\": [\n";
    for (int i = 1; i <= SOURCE_COUNT; ++i) {
        std::string n = std::to_string(i);
        text += "    {\"application\": \"example-query.exe answer.json response-" + n +
                ".json 2\", \"response\": \"response-" + n +
                ".json\", \"updater_params\": [\"-channel\", \"stable\"]}";
        text += i < SOURCE_COUNT ? ",\n" : "\n";
    }
    return text + "  ]\n}\n";
}

// The commands the hub logged, in order.
std::vector<std::string> executed_commands(const std::string &log) {
    std::vector<std::string> commands;
    const std::string marker = "Executed: [";
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        size_t start = line.find(marker);
        size_t stop = line.rfind("] ... ");
        if (start == std::string::npos || stop == std::string::npos) continue;
        start += marker.size();
        commands.push_back(line.substr(start, stop - start));
    }
    return commands;
}

// A while loop over the sources that starts the query, on the first pass the registration,
// and the updater; through_interpreter starts each of them with sh -c as the hub does.
// commands: query 1, registration, updater 1, query 2, updater 2, ...
std::string shell_loop(const std::vector<std::string> &commands, bool through_interpreter) {
    std::string query = "./" + commands[0];
    query.replace(query.find("response-1.json"), 15, "response-$i.json");
    std::string registration = "./" + commands[1];
    std::string updater = "./" + commands[2];
    if (through_interpreter) {
        query = "sh -c \"" + query + "\""; // $i expands in the loop's shell
        registration = "sh -c '" + registration + "'";
        updater = "sh -c '" + updater + "'";
    }
    return "i=1\nwhile [ $i -le " + std::to_string(SOURCE_COUNT) + " ]; do\n    " + query +
           "\n    if [ $i -eq 1 ]; then " + registration + "; fi\n    " + updater +
           "\n    i=$((i + 1))\ndone\n";
}

Workspace prepare() {
    Workspace workspace;
    char pattern[] = "/tmp/hub-cycle-XXXXXX";
    if (!mkdtemp(pattern)) return {"", "cannot make a directory"};
    workspace.directory = pattern;
    const std::string &d = workspace.directory;
    copy_program(HUB_BINARY, d + "/update-hub");
    copy_program(EXAMPLE_QUERY, d + "/example-query.exe");
    copy_program(EXAMPLE_UPDATER, d + "/example-updater.exe");
    write_file(d + "/answer.json", read_file(EXAMPLE_ANSWER));
    write_file(d + "/hub.json", configuration());
    if (chdir(d.c_str()) != 0) return {d, "cannot enter " + d};

    run({"./update-hub", "--start", "-config", "hub.json", "-loglevel", "7"}, "hub.log");
    std::vector<std::string> commands = executed_commands(read_file("hub.log"));
    if (commands.size() != size_t(2 * SOURCE_COUNT + 1))
        return {d, "the hub ran " + std::to_string(commands.size()) + " commands"};
    std::string hub_record = read_file("updater-arguments.txt");
    for (bool through_interpreter : {false, true}) {
        std::string name = through_interpreter ? "shell-loop-sh-c.sh" : "shell-loop.sh";
        write_file(name, shell_loop(commands, through_interpreter));
        unlink("updater-arguments.txt");
        run({"/bin/sh", name});
        if (read_file("updater-arguments.txt") != hub_record)
            return {d, name + " does not start the programs the hub starts"};
    }
    return workspace;
}

const Workspace &workspace() {
    static const Workspace prepared = prepare();
    return prepared;
}

void run_cycle(benchmark::State &state, std::vector<std::string> command) {
    if (!workspace().error.empty()) {
        state.SkipWithError(workspace().error.c_str());
        return;
    }
    for (auto _ : state) {
        unlink("updater-arguments.txt");
        run(command);
    }
    state.counters["sources"] = SOURCE_COUNT;
}

} // namespace

int main(int argc, char **argv) {
    const std::pair<const char *, std::vector<std::string>> cycles[] = {
        {"cycle/update-hub", {"./update-hub", "--start", "-config", "hub.json"}},
        {"cycle/shell-loop", {"/bin/sh", "shell-loop.sh"}},
        {"cycle/shell-loop-sh-c", {"/bin/sh", "shell-loop-sh-c.sh"}},
    };
    for (const auto &[name, command] : cycles)
        benchmark::RegisterBenchmark(name, run_cycle, command)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!workspace().error.empty()) return 1;
    run({"/bin/rm", "-rf", workspace().directory});
    return 0;
}

// Building blocks for the end-to-end scenarios: configurations and responses for the example
// query and updater programs.
#pragma once

#include "hub_sandbox.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using Lines = std::vector<std::string>;
using Runs = std::vector<std::vector<std::string>>;

// The file the example updater records its runs in.
inline const std::string UPDATER_RECORD = "updates.txt";

// A source whose query copies <name>-answer.json to <name>-response.json and exits with status.
inline std::string query_source(const std::string &name, int status = 0,
                                const std::string &extra_members = "") {
    std::string source = "{\"application\": \"example-query.exe " + name + "-answer.json " + name +
                         "-response.json " + std::to_string(status) + "\", \"response\": \"" +
                         name + "-response.json\"";
    if (!extra_members.empty()) source += ", " + extra_members;
    return source + "}";
}

// A configuration with the example updater, recording to UPDATER_RECORD, and these sources;
// extra_parameters follow the record pair inside "parameters", and updater_members follow
// "parameters" in the "updater" object.
inline std::string example_configuration(const std::vector<std::string> &sources,
                                         const std::string &extra_parameters = "",
                                         const std::string &updater_members = "") {
    std::string configuration =
        "{\"updater\": {\"application\": \"example-updater.exe\", \"parameters\": "
        "[\"--record\", \"" +
        UPDATER_RECORD + "\"" + extra_parameters + "]" + updater_members + "},\n \"sources\": [";
    for (size_t i = 0; i < sources.size(); ++i)
        configuration += (i ? ",\n  " : "\n  ") + sources[i];
    return configuration + "]}\n";
}

// A response with one module.
inline std::string one_module_response(const std::string &identifier, int application, int module,
                                       const std::string &path) {
    return "{\"kavor\": \"" + identifier +
           "\", \"modules\": [{\"application\": " + std::to_string(application) +
           ", \"module\": " + std::to_string(module) +
           ", \"version\": {\"mayor\": 1, \"minor\": 2, \"build\": 3}, \"path\": \"" + path +
           "\"}]}";
}

// The folder the hub registers itself with: its directory with forward slashes and a slash.
inline std::string registration_path(const HubSandbox &sandbox) {
    std::string directory = sandbox.hub_path();
    for (char &c : directory)
        if (c == '\\') c = '/';
    return directory + "/";
}

// The argument the updater receives for the hub's own registration.
inline std::string registration_argument(const HubSandbox &sandbox, const std::string &identifier) {
    return "-ver:" + identifier + "@2|10|1|4.0|" + registration_path(sandbox);
}

// The arguments of an updater run: the configuration's "--record" pair, then these.
inline Lines with_record(const Lines &arguments) {
    Lines all = {"--record", UPDATER_RECORD};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

// One cycle over hub.json with --start at log level 7, and these arguments after.
inline HubRun run_cycle(const HubSandbox &sandbox, const Lines &extra = {}) {
    Lines arguments = {"--start", "-config", "hub.json", "-loglevel", "7"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return sandbox.run(arguments, "", 600);
}

// The log with its long lines cut, for a failure message.
inline std::string shortened_log(const HubRun &run) {
    std::string log;
    for (const std::string &text : run.texts())
        log += "\n  " + (text.size() > 160 ? text.substr(0, 160) + "..." : text);
    return log;
}

inline void make_executable(const std::string &path) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
}

inline Runs recorded_runs(const HubSandbox &sandbox) {
    return updater_runs(sandbox.read(UPDATER_RECORD));
}

inline std::string json_escaped(const std::string &text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// The example configuration with the updater program at another path.
inline std::string configuration_with_updater(const std::string &updater_path,
                                              const std::vector<std::string> &sources) {
    std::string configuration = example_configuration(sources);
    configuration.replace(configuration.find("example-updater.exe"), 19,
                          json_escaped(updater_path));
    return configuration;
}

// Polls until the file of the sandbox exists, for at most this many seconds.
inline bool wait_for_file(const HubSandbox &sandbox, const std::string &name, int seconds) {
    for (int tenths = 0; tenths < seconds * 10; ++tenths) {
        if (sandbox.exists(name)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

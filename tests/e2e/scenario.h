// Building blocks for the end-to-end scenarios: configurations and responses for the example
// query and updater programs.
#pragma once

#include "hub_sandbox.h"

#include <string>
#include <vector>

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

// A configuration with the example updater, recording to UPDATER_RECORD, and these sources.
inline std::string example_configuration(const std::vector<std::string> &sources,
                                         const std::string &extra_parameters = "") {
    std::string configuration =
        "{\"updater\": {\"application\": \"example-updater.exe\", \"parameters\": "
        "[\"--record\", \"" +
        UPDATER_RECORD + "\"" + extra_parameters + "]},\n \"sources\": [";
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

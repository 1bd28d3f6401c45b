// What a cycle says about itself: the report of -report, the log file of -logfile, and the exit
// code of --strict, checked against the log of the same run.
#include "hub_sandbox.h"
#include "report_schema.h"
#include "scenario.h"

#include "json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

const int EXIT_FAILED_SOURCES = 250;
const size_t LOG_FILE_LIMIT = 1024 * 1024;

int append_to_string(const char *text, int count, void *context) {
    static_cast<std::string *>(context)->append(text, size_t(count));
    return 0;
}

// A report read back: at("sources/1/query/word") gives that value as JSON text ("\"FAIL\"",
// "2", "null"), or "(missing)".
class Report {
  public:
    explicit Report(const std::string &text) : text_(text) {
        const char *end = nullptr;
        if (json_parse(text.c_str(), &end, &root_) != 0) root_ = nullptr;
    }
    ~Report() { json_free(&root_); }
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    bool parsed() const { return root_ != nullptr; }
    const std::string &text() const { return text_; }

    std::string at(const std::string &path) const {
        const JsonValue *value = root_;
        std::istringstream steps(path);
        std::string step;
        while (value && std::getline(steps, step, '/')) {
            if (json_type(value) == JSON_ARRAY)
                value = json_array_item(value, uint32_t(std::stoul(step)));
            else if (json_type(value) == JSON_OBJECT)
                value = json_object_find(value, step.c_str(), nullptr);
            else
                value = nullptr;
        }
        if (!value) return "(missing)";
        std::string written;
        json_serialize(value, append_to_string, &written);
        return written;
    }

  private:
    std::string text_;
    JsonValue *root_ = nullptr;
};

std::string json_quoted(const std::string &text) {
    return "\"" + json_escaped(text) + "\"";
}

// The word and status of the first log line that starts with prefix and ends in
// " ... WORD(code)", as the report writes them: {"\"WORD\"", "code"}.
std::pair<std::string, std::string> logged(const HubRun &run, const std::string &prefix) {
    for (const std::string &text : run.texts()) {
        if (text.rfind(prefix, 0) != 0) continue;
        size_t dots = text.rfind(" ... ");
        size_t open = text.rfind('(');
        if (dots == std::string::npos || open == std::string::npos || open < dots) continue;
        return {json_quoted(text.substr(dots + 5, open - dots - 5)),
                text.substr(open + 1, text.size() - open - 2)};
    }
    return {"(not logged)", "(not logged)"};
}

void expect_step_as_logged(const Report &report, const std::string &step, const HubRun &run,
                           const std::string &prefix) {
    auto [word, code] = logged(run, prefix);
    EXPECT_EQ(report.at(step + "/word"), word) << step << "\n" << report.text();
    EXPECT_EQ(report.at(step + "/code"), code) << step;
}

void expect_valid(const Report &report) {
    EXPECT_TRUE(report.parsed()) << report.text();
    EXPECT_EQ(schema_violations(report_schema(), report.text()), std::vector<std::string>{})
        << report.text();
}

// The updater command lines of a run's "Execute updater:" lines that ran, in order.
Lines updater_lines(const HubRun &run) {
    Lines lines;
    for (const std::string &text : run.texts())
        if (text.rfind("Execute updater: ", 0) == 0 &&
            text != "Execute updater: Error executing updater")
            lines.push_back(text.substr(17));
    return lines;
}

std::string long_query() {
    // Longer than cmd.exe takes (8191, Windows) or than one argument may be (128 KiB, Linux).
    size_t length = HubSandbox::windows() ? 9000 : 200000;
    return "example-query.exe long-answer.json " + std::string(length, 'x');
}

// One source of each kind: it succeeds; its query cannot start; its response does not parse;
// its query runs past its timeout; its updater run ends with ERROR.
void write_five_sources(const HubSandbox &sandbox) {
    sandbox.write(
        "hub.json",
        example_configuration(
            {query_source("office", 2),
             "{\"application\": \"" + long_query() + "\", \"response\": \"long-response.json\"}",
             query_source("broken"),
             "{\"application\": \"example-query.exe --sleep 60 - slow-response.json\", "
             "\"response\": \"slow-response.json\", \"timeout\": 1}",
             query_source("tools", 1, "\"updater_params\": [\"--exit\", \"5\"]")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("long-answer.json", one_module_response("long", 1, 1, "C:\\\\Long"));
    sandbox.write("broken-answer.json", "{\"kavor\": \"broken\", \"modules\": [");
    std::string module = "{\"application\": 12, \"module\": 1, \"version\": {\"mayor\": 1, "
                         "\"minor\": 2, \"build\": 3}, \"path\": \"D:\\\\Tools\"}";
    sandbox.write("tools-answer.json",
                  "{\"kavor\": \"tools\", \"modules\": [" + module + ", " + module + "]}");
}

class FiveSources : public testing::TestWithParam<bool> {};

TEST_P(FiveSources, TheReportSaysWhatTheLogSaysAndStrictEndsWithItsOwnCode) {
    if (HubSandbox::wrapped())
        GTEST_SKIP() << "a memory checker cannot report an interpreter that fails to start";
    bool strict = GetParam();
    HubSandbox sandbox;
    write_five_sources(sandbox);
    Lines extra = {"-report", "report.json"};
    if (strict) extra.push_back("--strict");
    HubRun run = run_cycle(sandbox, extra);

    int exit_code = strict ? EXIT_FAILED_SOURCES : 0;
    EXPECT_EQ(run.exit_code, exit_code) << shortened_log(run);
    EXPECT_TRUE(run.has("Exit code: " + std::to_string(exit_code)));
    Report report(sandbox.read("report.json"));
    expect_valid(report);
    EXPECT_EQ(report.at("exit_code"), std::to_string(exit_code));
    EXPECT_EQ(report.at("strict"), strict ? "true" : "false");
    EXPECT_EQ(report.at("mode"), "\"start\"");
    EXPECT_EQ(report.at("configuration"), json_quoted(sandbox.hub_path("hub.json")));
    EXPECT_EQ(report.at("updater/status"), "0");
    EXPECT_EQ(report.at("updater/working_copy"), "\"ravcpy.exe\"");
    EXPECT_EQ(report.at("failed_sources"), "4");
    EXPECT_EQ(report.at("sources/5"), "(missing)");

    Lines ran = updater_lines(run);
    ASSERT_EQ(ran.size(), 3u) << shortened_log(run);
    expect_step_as_logged(report, "registration", run, "Executed: [" + ran[0] + "] ...");
    expect_step_as_logged(report, "sources/0/updater", run, "Executed: [" + ran[1] + "] ...");
    expect_step_as_logged(report, "sources/4/updater", run, "Executed: [" + ran[2] + "] ...");
    EXPECT_EQ(report.at("sources/4/updater/word"), "\"ERROR\"");

    const char *responses[] = {"office-response.json", "long-response.json", "broken-response.json",
                               "slow-response.json", "tools-response.json"};
    const char *oks[] = {"true", "false", "false", "false", "false"};
    Lines commands = {"example-query.exe office-answer.json office-response.json 2", long_query(),
                      "example-query.exe broken-answer.json broken-response.json 0",
                      "example-query.exe --sleep 60 - slow-response.json",
                      "example-query.exe tools-answer.json tools-response.json 1"};
    for (int i = 0; i < 5; ++i) {
        std::string source = "sources/" + std::to_string(i);
        EXPECT_EQ(report.at(source + "/application"), json_quoted(commands[size_t(i)]));
        EXPECT_EQ(report.at(source + "/response"), json_quoted(responses[i]));
        EXPECT_EQ(report.at(source + "/ok"), oks[i]) << source;
        expect_step_as_logged(report, source + "/query", run,
                              "Executed: [" + commands[size_t(i)] + "] ...");
        if (report.at(source + "/read") != "null")
            expect_step_as_logged(report, source + "/read", run,
                                  std::string("Read: [") + responses[i] + "] ...");
        else
            EXPECT_FALSE(run.mentions(std::string("Read: [") + responses[i])) << source;
    }
    EXPECT_EQ(report.at("sources/1/query/word"), "\"FAIL\"");
    EXPECT_EQ(report.at("sources/1/query/error"), "7"); // E2BIG
    EXPECT_EQ(report.at("sources/1/read"), "null");
    EXPECT_EQ(report.at("sources/2/read/code"), "22");
    EXPECT_EQ(report.at("sources/2/updater"), "null");
    EXPECT_EQ(report.at("sources/2/kavor"), "null");
    EXPECT_EQ(report.at("sources/3/query/word"), "\"TIMEOUT\"");
    EXPECT_EQ(report.at("sources/0/kavor"), "\"office\"");
    EXPECT_EQ(report.at("sources/0/modules"), "1");
    EXPECT_EQ(report.at("sources/4/modules"), "2");
}

INSTANTIATE_TEST_SUITE_P(Strictness, FiveSources, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "strict" : "not_strict";
                         });

TEST(Report, StatusModeAndStrictWithEverySourceOkEndWithZero) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office", 2)}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = sandbox.run({"--status", "-config", "hub.json", "--strict", "-report", "r.json"});
    EXPECT_EQ(run.exit_code, 0);
    Report report(sandbox.read("r.json"));
    expect_valid(report);
    EXPECT_EQ(report.at("mode"), "\"status\"");
    EXPECT_EQ(report.at("updater"), "null");
    EXPECT_EQ(report.at("registration"), "null");
    EXPECT_EQ(report.at("sources/0/updater"), "null");
    EXPECT_EQ(report.at("sources/0/ok"), "true");
    EXPECT_EQ(report.at("failed_sources"), "0");
}

struct EarlyEndCase {
    const char *name;
    const char *configuration; // null: no file
    int exit_code;
    const char *updater; // the report's "updater/status", or "null" for no "updater"
    const char *sources; // the report's "sources"
};

class ReportOfAnEarlyEnd : public testing::TestWithParam<EarlyEndCase> {};

TEST_P(ReportOfAnEarlyEnd, IsWrittenWithTheExitCodeAndWhatWasReached) {
    const EarlyEndCase &c = GetParam();
    HubSandbox sandbox;
    if (c.configuration) sandbox.write("hub.json", c.configuration);
    HubRun run = run_cycle(sandbox, {"-report", "report.json", "--strict"});
    EXPECT_EQ(run.exit_code, c.exit_code & 0xFF);
    Report report(sandbox.read("report.json"));
    expect_valid(report);
    EXPECT_EQ(report.at("exit_code"), std::to_string(c.exit_code));
    EXPECT_EQ(std::string(c.updater) == "null" ? report.at("updater") : report.at("updater/status"),
              c.updater);
    EXPECT_EQ(report.at("sources"), c.sources);
    EXPECT_EQ(report.at("registration"), "null");
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ReportOfAnEarlyEnd,
    testing::Values(
        EarlyEndCase{"missing_configuration", nullptr, 2, "null", "[  ]"},
        EarlyEndCase{"configuration_that_does_not_parse", "{\"sources\": [", 22, "null", "[  ]"},
        EarlyEndCase{"updater_that_cannot_be_copied",
                     "{\"updater\": {\"application\": \"missing-updater.exe\"}, \"sources\": "
                     "[{\"application\": \"example-query.exe - r.json\", \"response\": "
                     "\"r.json\"}]}",
                     -2, "-2", "[  ]"},
        EarlyEndCase{"source_without_response",
                     "{\"updater\": {\"application\": \"example-updater.exe\"}, \"sources\": "
                     "[{\"application\": \"example-query.exe - r.json\"}]}",
                     22, "0",
                     // (read back with the keys in order)
                     "[ { \"application\": \"example-query.exe - r.json\", \"kavor\": null, "
                     "\"modules\": null, \"ok\": false, \"query\": null, \"read\": null, "
                     "\"response\": null, \"updater\": null } ]"}),
    [](const testing::TestParamInfo<EarlyEndCase> &info) { return info.param.name; });

TEST(Report, WithoutAConfigurationPathSaysSo) {
    HubSandbox sandbox;
    HubRun run = sandbox.run({"--start", "-report", "report.json"});
    EXPECT_EQ(run.exit_code, 2);
    Report report(sandbox.read("report.json"));
    expect_valid(report);
    EXPECT_EQ(report.at("configuration"), "null");
    EXPECT_EQ(report.at("exit_code"), "2");
}

Lines temporary_files(const HubSandbox &sandbox) {
    Lines found;
    for (const auto &entry : std::filesystem::directory_iterator(sandbox.path()))
        if (entry.path().extension() == ".tmp") found.push_back(entry.path().filename().string());
    return found;
}

TEST(Report, ACycleThatFindsTheLockHeldReportsIt) {
    HubSandbox sandbox;
    std::string held_source = "{\"application\": \"example-query.exe --started started --wait-for "
                              "gate office-answer.json office-response.json 2\", \"response\": "
                              "\"office-response.json\"}";
    sandbox.write("hub.json", example_configuration({held_source}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun first{-1, {}, {}, {}, {}};
    std::thread first_cycle([&] { first = run_cycle(sandbox, {"-report", "first.json"}); });
    bool started = wait_for_file(sandbox, "started", 60);
    HubRun second{-1, {}, {}, {}, {}};
    if (started) second = run_cycle(sandbox, {"-report", "second.json"});
    sandbox.write("gate", "");
    first_cycle.join();
    ASSERT_TRUE(started) << shortened_log(first);
    EXPECT_EQ(second.exit_code, 16);
    Report report(sandbox.read("second.json"));
    expect_valid(report);
    EXPECT_EQ(report.at("exit_code"), "16");
    EXPECT_EQ(report.at("updater"), "null");
    EXPECT_EQ(report.at("sources"), "[  ]");
    Report first_report(sandbox.read("first.json"));
    EXPECT_EQ(first_report.at("sources/0/ok"), "true");
}

TEST(Report, ReplacesTheOldOneWhileAReaderHoldsItOpen) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office", 2)}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    std::string old_report = "{\"report\": 1, \"old\": true}\n";
    sandbox.write("report.json", old_report);
    std::ifstream reader(sandbox.path() + "/report.json", std::ios::binary);
    HubRun run = run_cycle(sandbox, {"-report", "report.json"});
    EXPECT_EQ(run.exit_code, 0);
    std::ostringstream held;
    held << reader.rdbuf();
    EXPECT_EQ(held.str(), old_report);
    Report report(sandbox.read("report.json"));
    expect_valid(report);
    EXPECT_EQ(report.at("sources/0/ok"), "true");
    EXPECT_TRUE(run.has("Report: [report.json] ... OK(0)"));
    EXPECT_EQ(temporary_files(sandbox), Lines{});
}

TEST(Report, HeldOpenByAWindowsReaderThatSharesNoDeletionStaysWholeAndTheFailureIsLogged) {
    if (!HubSandbox::windows())
        GTEST_SKIP() << "only Windows keeps an open file from being renamed over";
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office", 2)}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\Office"));
    std::string old_report = "{\"report\": 1, \"old\": true}\n";
    sandbox.write("report.json", old_report);
    // cmd.exe holds its input redirection open, without sharing its deletion, until the gate.
    std::string reader = "cd '" + sandbox.path() + "' && " + getenv("HUB_LAUNCHER") +
                         " cmd /c \"example-query.exe --started reading --wait-for gate - - "
                         "< report.json & example-query.exe --started done - -\" "
                         "</dev/null >/dev/null 2>&1 &";
    ASSERT_EQ(system(reader.c_str()), 0);
    bool reading = wait_for_file(sandbox, "reading", 60);
    HubRun run{-1, {}, {}, {}, {}};
    if (reading) run = run_cycle(sandbox, {"-report", "report.json"});
    sandbox.write("gate", "");
    EXPECT_TRUE(wait_for_file(sandbox, "done", 60));
    ASSERT_TRUE(reading);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Report: [report.json] ... FAIL(13)")) << shortened_log(run);
    EXPECT_EQ(sandbox.read("report.json"), old_report);
    EXPECT_EQ(temporary_files(sandbox), Lines{});
}

TEST(Report, ThatCannotBeWrittenIsLoggedAtLevelZeroAndLeavesTheExitCode) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office", 2)}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = sandbox.run({"--start", "-config", "hub.json", "-report", "missing/report.json"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.texts_at(0).size(), 3u) << shortened_log(run);
    EXPECT_TRUE(run.has("Report: [missing/report.json] ... FAIL(2)")) << shortened_log(run);
}

TEST(Report, TextsAreTheConfigurationsAndTheResponsesOwnAndNeverCut) {
    HubSandbox sandbox;
    // A quote and a zero byte in the identifier, which the updater's line cannot carry, so
    // neither the run nor the registration happens; a long name in the command.
    std::string long_name(5000, 'n');
    sandbox.write("hub.json",
                  example_configuration({"{\"application\": \"example-query.exe odd-answer.json "
                                         "odd-response.json 0 " +
                                         long_name + "\", \"response\": \"odd-response.json\"}"}));
    sandbox.write("odd-answer.json",
                  "{\"kavor\": \"b\\\"c\\u0000d\\u00e9\", \"modules\": [{\"application\": 1}]}");
    HubRun run = run_cycle(sandbox, {"-report", "report.json"});
    Report report(sandbox.read("report.json"));
    expect_valid(report);
    EXPECT_EQ(report.at("sources/0/kavor"), "\"b\\\"c\\u0000d\xc3\xa9\"");
    EXPECT_EQ(report.at("sources/0/application"),
              json_quoted("example-query.exe odd-answer.json odd-response.json 0 " + long_name));
    EXPECT_EQ(report.at("sources/0/updater/refused"), "\"version_argument\"");
    EXPECT_EQ(report.at("sources/0/ok"), "false");
    EXPECT_EQ(report.at("registration/refused"), "\"version_argument\"");
    EXPECT_EQ(report.at("failed_sources"), "2");
}

// Lines of a log text, without line ends.
Lines lines_of(const std::string &text) {
    Lines lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

struct LogFileCase {
    const char *name;
    size_t old_size; // bytes already in the log file; 0: no file
    bool rotated;
};

class LogFile : public testing::TestWithParam<LogFileCase> {};

TEST_P(LogFile, GetsTheLinesOfStandardErrorAndIsRotatedAboveItsLimit) {
    const LogFileCase &c = GetParam();
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office", 2)}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    std::string old_log(c.old_size, 'o');
    if (c.old_size) sandbox.write("hub.log", old_log);
    sandbox.write("hub.log.1", "older");
    HubRun run = run_cycle(sandbox, {"-logfile", "hub.log"});
    EXPECT_EQ(run.exit_code, 0);
    std::string logged = sandbox.read("hub.log");
    std::string kept = c.rotated ? "" : old_log;
    ASSERT_EQ(logged.substr(0, kept.size()), kept);
    EXPECT_EQ(lines_of(logged.substr(kept.size())), lines_of(run.output));
    EXPECT_GT(run.lines.size(), 10u);
    EXPECT_EQ(sandbox.read("hub.log.1"), c.rotated ? old_log : "older");
}

INSTANTIATE_TEST_SUITE_P(Sizes, LogFile,
                         testing::Values(LogFileCase{"missing", 0, false},
                                         LogFileCase{"small", 100, false},
                                         LogFileCase{"at_the_limit", LOG_FILE_LIMIT, false},
                                         LogFileCase{"above_the_limit", LOG_FILE_LIMIT + 1, true}),
                         [](const testing::TestParamInfo<LogFileCase> &info) {
                             return info.param.name;
                         });

TEST(LogFileOf, ACycleGoesOnWhenItCannotBeOpenedAndSaysSoOnce) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office", 2)}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = sandbox.run({"--start", "-config", "hub.json", "-logfile", "missing/hub.log"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.texts_at(0).size(), 3u) << shortened_log(run);
    EXPECT_EQ(run.count("Log file: [missing/hub.log] ... FAIL(2)"), 1) << shortened_log(run);
    EXPECT_EQ(recorded_runs(sandbox).size(), 2u);
}

TEST(ReportAndLogFile, TakeNamesInAnyScript) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office", 2)}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    std::string report_name = "Bericht-\xc5\xbe\xc3\xa9-\xe6\x97\xa5.json";
    std::string log_name = "\xd0\xb6\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb.log";
    HubRun run = run_cycle(sandbox, {"-report", report_name, "-logfile", log_name});
    EXPECT_EQ(run.exit_code, 0);
    Report report(sandbox.read(report_name));
    expect_valid(report);
    EXPECT_EQ(report.at("sources/0/ok"), "true");
    EXPECT_EQ(lines_of(sandbox.read(log_name)), lines_of(run.output));
}

} // namespace

#include "hub_sandbox.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

TEST(Cycle, TwoSourcesRegisterOnceBeforeTheFirstUpdaterRun) {
    HubSandbox sandbox;
    sandbox.write("hub.json",
                  example_configuration(
                      {query_source("office", 2, "\"updater_params\": [\"-channel\", \"stable\"]"),
                       query_source("tools", 1)},
                      ", \"-s\""));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("tools-answer.json", one_module_response("tools", 12, 1, "D:\\\\Tools"));
    HubRun run = run_cycle(sandbox);

    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(recorded_runs(sandbox),
              (Runs{with_record({"-s", registration_argument(sandbox, "office")}),
                    with_record({"-s", "-channel", "stable", "-ver:office@7|3|1|2.3|C:\\Office"}),
                    with_record({"-s", "-ver:tools@12|1|1|2.3|D:\\Tools"})}));
    EXPECT_FALSE(sandbox.exists("office-response.json"));
    EXPECT_FALSE(sandbox.exists("tools-response.json"));
    EXPECT_EQ(sandbox.read("ravcpy.exe"), sandbox.read("example-updater.exe"));

    std::string prefix = "ravcpy.exe --record updates.txt -s ";
    std::string office_line = prefix + "-channel stable \"-ver:office@7|3|1|2.3|C:\\Office\"";
    std::string registration_line = prefix + "\"" + registration_argument(sandbox, "office") + "\"";
    Lines expected_in_order = {
        "Read: [hub.json] ... OK(0)",
        "Copy file: src=example-updater.exe  -> dest=ravcpy.exe  [OK]",
        "Get ravcpy: " + prefix,
        "Executed: [example-query.exe office-answer.json office-response.json 2] ... HAVE "
        "UPDATE(2)",
        "Read: [office-response.json] ... OK(0)",
        "Executed: [" + registration_line + "] ... OK(0)",
        "Execute updater: " + registration_line,
        "Executed: [" + office_line + "] ... OK(0)",
        "Execute updater: " + office_line,
        "Executed: [example-query.exe tools-answer.json tools-response.json 1] ... NO UPDATE(1)",
        "Read: [tools-response.json] ... OK(0)",
        "Exit code: 0"};
    int position = 0;
    for (const std::string &line : expected_in_order) {
        int found = run.find(line, position);
        EXPECT_GE(found, position) << "missing or out of order: " << line << "\n"
                                   << testing::PrintToString(run.texts());
        if (found >= 0) position = found + 1;
    }
    EXPECT_EQ(
        run.count("Update quorlix: {\"kavor\": \"office\", \"modules\": [{\"application\": 2, "
                  "\"module\": 10, \"version\": {\"mayor\": 1, \"minor\": 4, \"build\": 0}, "
                  "\"path\": \"" +
                  registration_path(sandbox) + "\"}]}"),
        1);
    EXPECT_TRUE(run.malformed.empty());
}

TEST(Cycle, ASourceWithoutResponseIsSkippedAndTheRegistrationMovesOn) {
    HubSandbox sandbox;
    sandbox.write(
        "hub.json",
        example_configuration({"{\"application\": \"example-query.exe - silent-response.json 0\", "
                               "\"response\": \"silent-response.json\"}",
                               query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Read: [silent-response.json] ... FAIL(2)"));
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "office")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}))
        << shortened_log(run);
}

TEST(Cycle, StatusModeOnlyQueriesAndKeepsTheResponses) {
    HubSandbox sandbox;
    sandbox.write("hub.json", "{\"sources\": [" + query_source("office", 2) + ", " +
                                  query_source("tools") + "]}");
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("tools-answer.json", one_module_response("tools", 12, 1, "D:\\\\Tools"));
    sandbox.write("tools-response.json", "stale");
    HubRun run = sandbox.run({"--status", "-config", "hub.json", "-loglevel", "7"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Get ravcpy: (null)"));
    EXPECT_EQ(sandbox.read("office-response.json"), sandbox.read("office-answer.json"));
    EXPECT_EQ(sandbox.read("tools-response.json"), sandbox.read("tools-answer.json"));
    EXPECT_FALSE(sandbox.exists("ravcpy.exe"));
    EXPECT_FALSE(sandbox.exists(UPDATER_RECORD));
    EXPECT_FALSE(run.has("Execute updater: Error executing updater"));
    EXPECT_TRUE(run.has("Read: [tools-response.json] ... OK(0)"));
}

TEST(Cycle, StartAndStatusTogetherRunInStatusMode) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = sandbox.run({"--start", "--status", "-config", "hub.json"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(sandbox.exists("office-response.json"));
    EXPECT_FALSE(sandbox.exists("ravcpy.exe"));
}

struct ConfigurationCase {
    const char *name;
    const char *configuration; // null: no file at all
    int exit_code;
    const char *expected_line;
};

class CycleConfiguration : public testing::TestWithParam<ConfigurationCase> {};

TEST_P(CycleConfiguration, EndsWithTheErrorAndItsLine) {
    HubSandbox sandbox;
    if (GetParam().configuration) sandbox.write("hub.json", GetParam().configuration);
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, GetParam().exit_code & 0xFF);
    EXPECT_TRUE(run.has("Exit code: " + std::to_string(GetParam().exit_code)));
    if (GetParam().expected_line) {
        EXPECT_TRUE(run.has(GetParam().expected_line)) << testing::PrintToString(run.texts());
    }
    EXPECT_FALSE(sandbox.exists(UPDATER_RECORD));
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CycleConfiguration,
    testing::Values(ConfigurationCase{"empty_file", "", 22, "Read: [hub.json] ... FAIL(22)"},
                    ConfigurationCase{"response_name_twice",
                                      "{\"updater\": {\"application\": \"example-updater.exe\"}, "
                                      "\"sources\": [{\"application\": \"example-query.exe - "
                                      "r.json\", \"response\": \"r.json\", "
                                      "\"response\": \"s.json\"}]}",
                                      22, "Read: [hub.json] ... FAIL(22)"},
                    ConfigurationCase{"missing_file", nullptr, 2, "Read: [hub.json] ... FAIL(2)"},
                    ConfigurationCase{"left_half_merged",
                                      "{\"sources\": [{}]}\n<<<<<<< HEAD this is not JSON\n", 22,
                                      "Read: [hub.json] ... FAIL(22)"},
                    ConfigurationCase{"top_level_array", "[{\"sources\": []}]", 22,
                                      "Get ravcpy: Error getting ravcpy"},
                    ConfigurationCase{"no_updater", "{\"sources\": [{}]}", 22,
                                      "Get ravcpy: Error getting ravcpy"},
                    ConfigurationCase{"empty_sources",
                                      "{\"updater\": {\"application\": \"example-updater.exe\"}, "
                                      "\"sources\": []}",
                                      22, "Get ravcpy: ravcpy.exe "},
                    ConfigurationCase{
                        "missing_updater_program",
                        "{\"updater\": {\"application\": \"nothing.exe\"}, \"sources\": [{}]}", -2,
                        "Copy file: src=nothing.exe  -> dest=ravcpy.exe  [Error]"},
                    ConfigurationCase{"parameters_not_an_array",
                                      "{\"updater\": {\"application\": \"example-updater.exe\", "
                                      "\"parameters\": \"-a\"}, \"sources\": [{}]}",
                                      22, "Get ravcpy: Error getting ravcpy"},
                    ConfigurationCase{"parameter_that_is_an_object",
                                      "{\"updater\": {\"application\": \"example-updater.exe\", "
                                      "\"parameters\": [\"-a\", {}]}, \"sources\": [{}]}",
                                      22, "Get ravcpy: Error getting ravcpy"},
                    ConfigurationCase{"source_argument_that_is_an_array",
                                      "{\"updater\": {\"application\": \"example-updater.exe\"}, "
                                      "\"sources\": [{\"application\": \"example-query.exe - "
                                      "r.json\", \"response\": \"r.json\", "
                                      "\"updater_params\": [\"-a\", [\"-b\"]]}]}",
                                      22, "Get ravcpy: ravcpy.exe "},
                    // Refused before the copy, which would fail with -2: no such file.
                    ConfigurationCase{"quote_in_the_updater_folder",
                                      "{\"updater\": {\"application\": "
                                      "\"x\\\"y/z\\\\example-updater.exe\"}, \"sources\": [{}]}",
                                      22, "Get ravcpy: Error getting ravcpy"},
                    ConfigurationCase{"updater_timeout_as_a_string",
                                      "{\"updater\": {\"application\": \"example-updater.exe\", "
                                      "\"timeout\": \"30\"}, \"sources\": [{}]}",
                                      22, "Get ravcpy: Error getting ravcpy"},
                    ConfigurationCase{"updater_timeout_of_zero",
                                      "{\"updater\": {\"application\": \"example-updater.exe\", "
                                      "\"timeout\": 0}, \"sources\": [{}]}",
                                      22, "Get ravcpy: Error getting ravcpy"},
                    ConfigurationCase{"negative_source_timeout",
                                      "{\"updater\": {\"application\": \"example-updater.exe\"}, "
                                      "\"sources\": [{\"application\": \"example-query.exe - "
                                      "r.json\", \"response\": \"r.json\", \"timeout\": -1}]}",
                                      22, "Get ravcpy: ravcpy.exe "},
                    ConfigurationCase{"source_that_is_not_an_object",
                                      "{\"updater\": {\"application\": \"example-updater.exe\"}, "
                                      "\"sources\": [\"example-query.exe\"]}",
                                      22, nullptr}),
    [](const testing::TestParamInfo<ConfigurationCase> &info) { return info.param.name; });

TEST(Cycle, ASecondSourceWithoutResponseEndsTheCycleAfterTheFirst) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office"),
                                                     "{\"application\": \"example-query.exe\"}",
                                                     query_source("tools")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("tools-answer.json", one_module_response("tools", 12, 1, "D:\\\\Tools"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 22);
    EXPECT_EQ(recorded_runs(sandbox).size(), 2u);
    EXPECT_FALSE(run.has("Read: [tools-response.json] ... OK(0)"));
}

TEST(Cycle, ParameterAndSourceArgumentTextsFollowTheirTypes) {
    HubSandbox sandbox;
    sandbox.write("hub.json",
                  example_configuration(
                      {query_source("office", 0, "\"updater_params\": [\"-x\", 7.50, false, \"\"]"),
                       query_source("tools", 0, "\"updater_params\": \"-ignored\"")},
                      ", \"-a\", 5, null, true, \"\""));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("tools-answer.json", one_module_response("tools", 12, 1, "D:\\\\Tools"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Get ravcpy: ravcpy.exe --record updates.txt -a 5 null true "));
    Runs runs = recorded_runs(sandbox);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1], with_record({"-a", "5", "null", "true", "-x", "7.50", "false",
                                    "-ver:office@7|3|1|2.3|C:\\Office"}));
    EXPECT_EQ(runs[2], with_record({"-a", "5", "null", "true", "-ver:tools@12|1|1|2.3|D:\\Tools"}));
}

TEST(Cycle, TheWorkedExampleReachesTheUpdaterAsOneArgument) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("example")}, ", \"-s\""));
    sandbox.write("example-answer.json", R"({"kavor": "abc", "modules": [
  {"application": 7, "module": 3, "version": {"mayor": 2, "minor": 5, "build": 118}, "path": "C:\\Apps\\Seven"},
  {"path": "C:\\Apps\\Seven\\Extra", "version": {"build": 9, "minor": 0, "mayor": 1}, "module": 4, "application": 7}
]})");
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    Runs runs = recorded_runs(sandbox);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1],
              with_record(
                  {"-s", "-ver:abc@7|3|2|5.118|C:\\Apps\\Seven@7|4|1|0.9|C:\\Apps\\Seven\\Extra"}));
    EXPECT_TRUE(
        run.has("Execute updater: ravcpy.exe --record updates.txt -s "
                "\"-ver:abc@7|3|2|5.118|C:\\Apps\\Seven@7|4|1|0.9|C:\\Apps\\Seven\\Extra\""));
}

TEST(Cycle, NumbersAndPathsAreCopiedAsWritten) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("odd")}));
    sandbox.write("odd-answer.json", R"({"kavor": "id with blanks", "extra": 1, "modules": [
  {"application": -1, "module": 3, "version": {"mayor": 2, "minor": 2.0, "build": 1e2}, "path": "C:\\Program Files\\X@1|2", "x": []}]})");
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    Runs runs = recorded_runs(sandbox);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1],
              with_record({"-ver:id with blanks@-1|3|2|2.0.1e2|C:\\Program Files\\X@1|2"}));
}

TEST(Cycle, AResponseWithAMissingMemberRunsNoUpdater) {
    HubSandbox sandbox;
    sandbox.write("hub.json",
                  example_configuration({query_source("broken"), query_source("office")}));
    sandbox.write("broken-answer.json", R"({"kavor": "broken", "modules": [
  {"application": 7, "module": 3, "version": {"mayor": 2, "minor": 5}, "path": "C:\\A"}]})");
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.count("Execute updater: Error executing updater"), 1);
    // The registration ran with the broken source, which cleared the first-source flag.
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "broken")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}));
}

TEST(Cycle, ExitStatusesAreLoggedWithTheirWordsAndChangeNothing) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("a", 5), query_source("b", 255)},
                                                    ", \"--exit\", \"3\""));
    sandbox.write("a-answer.json", one_module_response("a", 1, 1, "C:\\\\A"));
    sandbox.write("b-answer.json", one_module_response("b", 2, 2, "C:\\\\B"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(
        run.has("Executed: [example-query.exe a-answer.json a-response.json 5] ... ERROR(5)"));
    EXPECT_TRUE(
        run.has("Executed: [example-query.exe b-answer.json b-response.json 255] ... ERROR(255)"));
    EXPECT_EQ(recorded_runs(sandbox).size(), 3u);
    EXPECT_TRUE(run.has("Executed: [ravcpy.exe --record updates.txt --exit 3 "
                        "\"-ver:b@2|2|1|2.3|C:\\B\"] ... ERROR(3)"));
}

struct UpdaterFolderCase {
    const char *name;
    const char *folder;
    bool absolute;       // named by its full path, as an administrator would
    bool quoted;         // whether the working copy's path stands in quotes
    int forward_slashes; // Windows: how many of the last separators are written as '/'
};

// The path with its last `count` backslashes written as forward slashes.
std::string with_forward_slashes(std::string path, int count) {
    for (size_t i = path.size(); i-- > 0 && count > 0;)
        if (path[i] == '\\') path[i] = '/', --count;
    return path;
}

class CycleUpdaterFolder : public testing::TestWithParam<UpdaterFolderCase> {};

// The working copy is written beside the updater and runs from there, wherever that is: a path
// that the interpreter would cut or act on reaches it in quotes.
TEST_P(CycleUpdaterFolder, GetsTheWorkingCopyAndRunsItFromThere) {
    const UpdaterFolderCase &c = GetParam();
    HubSandbox sandbox;
    sandbox.make_directory(c.folder);
    sandbox.write(std::string(c.folder) + "/example-updater.exe",
                  sandbox.read("example-updater.exe"));
    if (!HubSandbox::windows()) { // the working copy takes the program's permission bits
        make_executable(sandbox.path() + "/" + c.folder + "/example-updater.exe");
    }
    std::string separator = HubSandbox::windows() ? "\\" : "/";
    std::string folder = c.absolute ? sandbox.hub_path(c.folder) : c.folder;
    if (HubSandbox::windows()) {
        for (char &byte : folder)
            if (byte == '/') byte = '\\';
        folder = with_forward_slashes(folder + separator, c.forward_slashes);
        separator = folder.substr(folder.size() - 1);
        folder.pop_back();
    }
    sandbox.write("hub.json", configuration_with_updater(folder + separator + "example-updater.exe",
                                                         {query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(sandbox.exists(std::string(c.folder) + "/ravcpy.exe"));
    EXPECT_FALSE(sandbox.exists("ravcpy.exe"));
    std::string working_copy = folder + separator + "ravcpy.exe";
    if (c.quoted) working_copy = "\"" + working_copy + "\"";
    EXPECT_TRUE(run.has("Get ravcpy: " + working_copy + " --record updates.txt "))
        << shortened_log(run);
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "office")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}))
        << shortened_log(run);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CycleUpdaterFolder,
    testing::Values(UpdaterFolderCase{"relative", "tools", false, false, 0},
                    UpdaterFolderCase{"blanks", "Vendor Updater", true, true, 0},
                    UpdaterFolderCase{"interpreter_signs", "A & B (x86)", true, true, 0},
                    // A shell would take ~ for the home folder.
                    UpdaterFolderCase{"tilde", "~", false, true, 0},
                    UpdaterFolderCase{"forward_slashes", "tools", true, false, 99},
                    UpdaterFolderCase{"forward_slashes_inside", "tools/vendor/sub", true, false,
                                      2}),
    [](const testing::TestParamInfo<UpdaterFolderCase> &info) { return info.param.name; });

TEST(Cycle, AnUpdaterThatCannotBeReadEndsTheCycle) {
    HubSandbox sandbox;
    sandbox.make_directory("updater");
    std::string configuration = example_configuration({query_source("office")});
    configuration.replace(configuration.find("example-updater.exe"), 19, "updater");
    sandbox.write("hub.json", configuration);
    HubRun run = run_cycle(sandbox);
    // Linux opens a directory and fails to read it (-1); Windows cannot open it (-2).
    int expected = HubSandbox::windows() ? -2 : -1;
    EXPECT_EQ(run.exit_code, expected & 0xFF);
    EXPECT_TRUE(run.has("Copy file: src=updater  -> dest=ravcpy.exe  [Error]"))
        << testing::PrintToString(run.texts());
    EXPECT_TRUE(run.has("Exit code: " + std::to_string(expected)));
    EXPECT_FALSE(run.has("Read: [office-response.json] ... OK(0)"));
}

TEST(Cycle, AQueryCommandThatCannotStartSkipsItsSource) {
    if (HubSandbox::wrapped())
        GTEST_SKIP() << "a memory checker cannot report an interpreter that fails to start";
    HubSandbox sandbox;
    // Longer than cmd.exe takes (8191, Windows) or than one argument may be (128 KiB, Linux).
    size_t length = HubSandbox::windows() ? 9000 : 200000;
    std::string long_query = "{\"application\": \"example-query.exe long-answer.json " +
                             std::string(length, 'x') + "\", \"response\": \"long-response.json\"}";
    sandbox.write("hub.json", example_configuration({long_query, query_source("office")}));
    sandbox.write("long-answer.json", one_module_response("long", 1, 1, "C:\\\\Long"));
    sandbox.write("long-response.json", one_module_response("stale", 1, 1, "C:\\\\Stale"));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.mentions("x] ... FAIL(-1)"));
    EXPECT_FALSE(run.has("Read: [long-response.json] ... FAIL(2)"));
    EXPECT_FALSE(sandbox.exists("long-response.json"));
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "office")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}))
        << shortened_log(run);
}

// A file of the sandbox that the hub cannot delete, for as long as this lives: read-only on
// Windows (Wine takes a file without write permission as read-only), immutable on Linux when the
// tests run as root (who may delete in any folder), otherwise in a folder without write
// permission.
class Undeletable {
  public:
    Undeletable(const HubSandbox &sandbox, const std::string &folder, const std::string &name)
        : folder_(sandbox.path() + "/" + folder), file_(folder_ + "/" + name) {
        if (HubSandbox::windows())
            made_ = chmod(file_.c_str(), 0444) == 0;
        else if (geteuid() == 0)
            made_ = system(("chattr +i '" + file_ + "' 2>/dev/null").c_str()) == 0;
        else
            made_ = chmod(folder_.c_str(), 0555) == 0;
    }
    ~Undeletable() {
        if (!HubSandbox::windows() && geteuid() == 0)
            (void)!system(("chattr -i '" + file_ + "' 2>/dev/null").c_str());
        chmod(folder_.c_str(), 0755);
        chmod(file_.c_str(), 0644);
    }
    bool made() const { return made_; }

  private:
    std::string folder_;
    std::string file_;
    bool made_ = false;
};

TEST(Cycle, AResponseThatCannotBeDeletedBeforeItsQueryIsNeverRead) {
    HubSandbox sandbox;
    sandbox.make_directory("locked");
    const std::string response = "locked/stale-response.json";
    // The query writes nothing, so only last cycle's response could be read.
    sandbox.write("hub.json",
                  example_configuration({"{\"application\": \"example-query.exe - " + response +
                                             "\", \"response\": \"" + response + "\"}",
                                         query_source("office")}));
    std::string stale = one_module_response("stale", 1, 1, "C:\\\\Stale");
    sandbox.write(response, stale);
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    Undeletable undeletable(sandbox, "locked", "stale-response.json");
    if (!undeletable.made()) GTEST_SKIP() << "cannot make a file that the hub may not delete";
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "office")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}))
        << shortened_log(run);
    // Skipped before its query, as a response that cannot be read, with the error number.
    int skipped = -1;
    for (size_t i = 0; i < run.lines.size(); ++i)
        if (run.lines[i].text.rfind("Read: [" + response + "] ... FAIL(", 0) == 0) skipped = int(i);
    EXPECT_GE(skipped, 0) << shortened_log(run);
    EXPECT_FALSE(run.mentions("Executed: [example-query.exe - " + response));
    EXPECT_EQ(sandbox.read(response), stale);
}

// Every spelling of the configuration that the first cycle runs over.
std::vector<std::string> spellings_of_the_configuration(const HubSandbox &sandbox) {
    std::vector<std::string> spellings = {"hub.json", sandbox.hub_path("hub.json")};
    if (HubSandbox::windows()) {
        spellings.push_back("HUB.JSON");
        spellings.push_back("\\\\?\\" + sandbox.hub_path("hub.json"));
        spellings.push_back("\\\\.\\" + sandbox.hub_path("hub.json"));
    } else {
        spellings.push_back("./hub.json");
        std::filesystem::create_symlink(sandbox.path() + "/hub.json",
                                        sandbox.path() + "/link.json");
        spellings.push_back("link.json");
    }
    return spellings;
}

TEST(Cycle, ASecondCycleOverTheSameConfigurationEndsAtOnceAndTouchesNothing) {
    HubSandbox sandbox;
    // The first cycle's first query holds it until the gate file appears.
    std::string held_source = "{\"application\": \"example-query.exe --started started --wait-for "
                              "gate office-answer.json office-response.json 2\", \"response\": "
                              "\"office-response.json\"}";
    std::string configuration = example_configuration({held_source, query_source("tools")});
    sandbox.write("hub.json", configuration);
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("tools-answer.json", one_module_response("tools", 12, 1, "D:\\\\Tools"));
    sandbox.write("tools-response.json", "left by someone else");
    HubRun first{-1, {}, {}, {}, {}};
    std::thread first_cycle([&] { first = run_cycle(sandbox); });
    bool started = wait_for_file(sandbox, "started", 60);
    std::vector<std::pair<std::string, HubRun>> seconds;
    if (started) {
        for (const std::string &spelling : spellings_of_the_configuration(sandbox))
            seconds.emplace_back(spelling,
                                 sandbox.run({"--start", "-config", spelling, "-loglevel", "7"}));
        // A configuration replaced by rename, as configuration-management tools write files.
        sandbox.write("hub.json.new", configuration);
        std::filesystem::rename(sandbox.path() + "/hub.json.new", sandbox.path() + "/hub.json");
        seconds.emplace_back("replaced by rename", run_cycle(sandbox));
    }
    bool untouched = sandbox.read("tools-response.json") == "left by someone else";
    sandbox.write("gate", "");
    first_cycle.join();
    ASSERT_TRUE(started) << shortened_log(first);
    for (const auto &[spelling, second] : seconds) {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(second.exit_code, 16);
        EXPECT_TRUE(second.has("Exit code: 16"));
        EXPECT_FALSE(second.mentions("Read: [")) << shortened_log(second);
        EXPECT_FALSE(second.mentions("Executed: [")) << shortened_log(second);
    }
    EXPECT_TRUE(untouched);
    EXPECT_EQ(first.exit_code, 0);
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "office")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"}),
                                            with_record({"-ver:tools@12|1|1|2.3|D:\\Tools"})}))
        << shortened_log(first);
}

struct ScriptUpdaterCase {
    const char *name;
    bool on_windows;          // the case is for the Windows build, else for Linux
    const char *script;       // the updater's file name
    const char *working_copy; // null: refused before anything is copied
};

class CycleScriptUpdater : public testing::TestWithParam<ScriptUpdaterCase> {};

// A script that hands its arguments on to the example updater beside it.
std::string forwarding_script(bool windows) {
    return windows ? "@\"%~dp0example-updater.exe\" %*\r\n"
                   : "#!/bin/sh\nexec \"$(dirname \"$0\")/example-updater.exe\" \"$@\"\n";
}

TEST_P(CycleScriptUpdater, RunsUnderANameItsInterpreterRunsOrIsRefused) {
    const ScriptUpdaterCase &c = GetParam();
    if (c.on_windows != HubSandbox::windows()) GTEST_SKIP() << "for the other platform";
    HubSandbox sandbox;
    sandbox.write(c.script, forwarding_script(c.on_windows));
    if (!c.on_windows) make_executable(sandbox.path() + "/" + c.script);
    sandbox.write("hub.json", configuration_with_updater(c.script, {query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    if (!c.working_copy) {
        EXPECT_EQ(run.exit_code, 22);
        EXPECT_TRUE(run.has("Get ravcpy: Error getting ravcpy"));
        EXPECT_FALSE(run.mentions("Copy file:"));
        EXPECT_FALSE(sandbox.exists(UPDATER_RECORD));
        return;
    }
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(sandbox.read(c.working_copy), sandbox.read(c.script));
    EXPECT_TRUE(run.has("Get ravcpy: " + std::string(c.working_copy) + " --record updates.txt "));
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "office")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}))
        << shortened_log(run);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, CycleScriptUpdater,
    testing::Values(ScriptUpdaterCase{"cmd", true, "update.cmd", "ravcpy.cmd"},
                    ScriptUpdaterCase{"bat_in_capitals", true, "UPDATE.BAT", "ravcpy.bat"},
                    ScriptUpdaterCase{"powershell", true, "update.ps1", nullptr},
                    ScriptUpdaterCase{"shell", false, "update.sh", "ravcpy.exe"}),
    [](const testing::TestParamInfo<ScriptUpdaterCase> &info) { return info.param.name; });

// Texts that a shell or cmd would act on inside the quoted version argument, and the backslash
// runs that they would halve. Each must reach the updater byte for byte as one argument, or stop
// the updater run where the platform cannot carry it; nothing may ever execute.
struct HostileCase {
    const char *name;
    const char *identifier; // as written in the response
    const char *path;       // as written in the response
    const char *on_windows; // what the updater receives after "-ver:"; null: refused
    const char *elsewhere;
    const char *registered; // the identifier the registration passes on; null: not run
};

class CycleHostileResponse : public testing::TestWithParam<HostileCase> {};

TEST_P(CycleHostileResponse, CarriesTheTextWholeOrRefusesItAndNeverRunsAnInjectedCommand) {
    const HostileCase &c = GetParam();
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("evil")}));
    sandbox.write("evil-answer.json",
                  std::string("{\"kavor\": \"") + c.identifier +
                      "\", \"modules\": [{\"application\": 1, \"module\": 1, "
                      "\"version\": {\"mayor\": 1, \"minor\": 0, \"build\": 0}, \"path\": \"" +
                      c.path + "\"}]}");
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_FALSE(sandbox.exists("injected")) << testing::PrintToString(run.texts());
    const char *expected = HubSandbox::windows() ? c.on_windows : c.elsewhere;
    Runs runs;
    if (c.registered) runs.push_back(with_record({registration_argument(sandbox, c.registered)}));
    if (expected) runs.push_back(with_record({std::string("-ver:") + expected}));
    EXPECT_EQ(recorded_runs(sandbox), runs);
    EXPECT_EQ(run.has("Execute updater: Error executing updater"), !expected || !c.registered);
    EXPECT_EQ(run.has("Update quorlix: Error updating quorlix"), !c.registered);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CycleHostileResponse,
    testing::Values(
        HostileCase{"quote_ending_the_argument", "evil", "x\\\" & echo x > injected & \\\"",
                    nullptr, nullptr, "evil"},
        HostileCase{"command_substitution", "evil", "$(echo x > injected)",
                    "evil@1|1|1|0.0|$(echo x > injected)", nullptr, "evil"},
        HostileCase{"backquotes", "evil", "`echo x > injected`",
                    "evil@1|1|1|0.0|`echo x > injected`", nullptr, "evil"},
        HostileCase{"variable", "evil", "%COMSPEC%", nullptr, "evil@1|1|1|0.0|%COMSPEC%", "evil"},
        HostileCase{"line_feed", "evil", "a\\necho x > injected", nullptr, nullptr, "evil"},
        HostileCase{"carriage_return", "evil", "a\\recho x > injected", nullptr, nullptr, "evil"},
        HostileCase{"zero_byte", "evil", "a\\u0000b", nullptr, nullptr, "evil"},
        HostileCase{"interpreter_signs", "evil", "C:\\\\X & echo x > injected | (y) ^ <z>",
                    "evil@1|1|1|0.0|C:\\X & echo x > injected | (y) ^ <z>",
                    "evil@1|1|1|0.0|C:\\X & echo x > injected | (y) ^ <z>", "evil"},
        HostileCase{"tab_in_the_identifier", "a\\\\tb", "C:\\\\A", "a\\tb@1|1|1|0.0|C:\\A",
                    "a\\tb@1|1|1|0.0|C:\\A", "a\\tb"},
        HostileCase{"identifier_rewriting_the_registration",
                    "x\\\", \\\"modules\\\": [{\\\"application\\\": 2, \\\"module\\\": 10, "
                    "\\\"version\\\": {\\\"mayor\\\": 9, \\\"minor\\\": 9, \\\"build\\\": 0}, "
                    "\\\"path\\\": \\\"/attacker/dir/\\\"}], \\\"zz\\\": \\\"",
                    "C:\\\\A", nullptr, nullptr, nullptr},
        HostileCase{"zero_byte_in_the_identifier", "a\\u0000b", "C:\\\\A", nullptr, nullptr,
                    nullptr},
        HostileCase{"tab_in_the_path", "evil", "C:\\\\A\\tB", "evil@1|1|1|0.0|C:\\A\tB",
                    "evil@1|1|1|0.0|C:\\A\tB", "evil"},
        HostileCase{"trailing_backslash", "evil", "C:\\\\Dir\\\\", "evil@1|1|1|0.0|C:\\Dir\\",
                    "evil@1|1|1|0.0|C:\\Dir\\", "evil"},
        HostileCase{"doubled_backslash_inside", "evil", "\\\\\\\\srv\\\\a\\\\\\\\b",
                    "evil@1|1|1|0.0|\\\\srv\\a\\\\b", "evil@1|1|1|0.0|\\\\srv\\a\\\\b", "evil"},
        HostileCase{"backslashes_only", "evil", "\\\\\\\\\\\\", "evil@1|1|1|0.0|\\\\\\",
                    "evil@1|1|1|0.0|\\\\\\", "evil"},
        HostileCase{"backslashes_before_a_quote", "evil", "a\\\\\\\\\\\" & echo x > injected & rem",
                    nullptr, nullptr, "evil"},
        HostileCase{"trailing_backslash_then_a_command", "evil & echo x > injected & rem ", "\\\\",
                    "evil & echo x > injected & rem @1|1|1|0.0|\\",
                    "evil & echo x > injected & rem @1|1|1|0.0|\\",
                    "evil & echo x > injected & rem "}),
    [](const testing::TestParamInfo<HostileCase> &info) { return info.param.name; });

} // namespace

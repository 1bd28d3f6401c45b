#include "hub_sandbox.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

std::string banner(const HubSandbox &sandbox) {
    return sandbox.program_path() + " v.1.4";
}

std::string command_line_line(const HubSandbox &sandbox, const std::string &command_line) {
    return "Command Line: " + command_line + " - Exec Path: " + sandbox.hub_path();
}

std::string copy_line(const HubSandbox &sandbox, const std::string &result) {
    return "Copy file: src=" + sandbox.program_path() +
           " -> dest=" + sandbox.hub_path("quorcpy.exe") + " [" + result + "]";
}

// Sets up the example programs so that a relaunched copy leaves a trace: two updater runs.
void prepare_example_cycle(const HubSandbox &sandbox, const std::string &configuration_name) {
    sandbox.write(configuration_name, example_configuration({query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\Office"));
}

class EntryWithoutConfiguration : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(EntryWithoutConfiguration, ExitsWithTwoAndLogsOnlyBannerAndExitLine) {
    HubSandbox sandbox;
    HubRun run = sandbox.run(GetParam());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.texts(), (Lines{banner(sandbox), "Exit code: 2"}));
    EXPECT_TRUE(run.malformed.empty());
    EXPECT_FALSE(sandbox.exists("quorcpy.exe"));
}

INSTANTIATE_TEST_SUITE_P(Arguments, EntryWithoutConfiguration,
                         testing::Values(Lines{"--start"}, Lines{"--start", "-config"},
                                         Lines{"--status"}, Lines{"-loglevel", "7", "--start"}));

TEST(Entry, LogLinesCarryTheDateTimeAndLevelPrefix) {
    HubSandbox sandbox;
    HubRun run = sandbox.run({"--start"});
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0].level, 0);
    EXPECT_EQ(run.lines[1].level, 0);
    EXPECT_TRUE(run.malformed.empty()) << run.malformed.front();
}

TEST(Entry, RelaunchCopiesItselfAndStartsTheCopyWithItsArguments) {
    HubSandbox sandbox;
    prepare_example_cycle(sandbox, "hub.json");
    HubRun run = sandbox.run({"-loglevel", "7", "-config", "hub.json"});
    EXPECT_EQ(run.exit_code, 0);
    int copy = run.find(copy_line(sandbox, "OK"));
    int command =
        run.find(command_line_line(sandbox, "quorcpy.exe --start -loglevel 7 -config hub.json"));
    EXPECT_EQ(copy, 1) << testing::PrintToString(run.texts());
    EXPECT_EQ(command, 2);
    EXPECT_TRUE(run.mentions("Exit code: 0"));
    EXPECT_EQ(sandbox.read("quorcpy.exe"), sandbox.read(HubSandbox::hub_name()));

    // The copy runs on its own, in the own directory: the registration and the source's run.
    auto runs = updater_runs(sandbox.wait_for_updater_runs(UPDATER_RECORD, 2));
    EXPECT_EQ(runs.size(), 2u);
    if (!HubSandbox::windows()) { // the copy shares standard error on Linux
        EXPECT_TRUE(run.mentions("quorcpy.exe v.1.4"));
    }
}

TEST(Entry, RelaunchWithoutArgumentsStartsABareCopyThatExitsWithTwo) {
    HubSandbox sandbox;
    HubRun run = sandbox.run({});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has(command_line_line(sandbox, "quorcpy.exe --start")));
    EXPECT_TRUE(sandbox.exists("quorcpy.exe"));
    if (!HubSandbox::windows()) { // the copy shares standard error on Linux
        EXPECT_TRUE(run.mentions("quorcpy.exe v.1.4"));
        EXPECT_TRUE(run.mentions("Exit code: 2"));
    }
}

TEST(Entry, RelaunchKeepsArgumentsWithBlanksWhole) {
    HubSandbox sandbox;
    prepare_example_cycle(sandbox, "my hub.json");
    HubRun run = sandbox.run({"-config", "my hub.json"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has(command_line_line(sandbox, "quorcpy.exe --start -config \"my hub.json\"")))
        << testing::PrintToString(run.texts());
    EXPECT_EQ(updater_runs(sandbox.wait_for_updater_runs(UPDATER_RECORD, 2)).size(), 2u);
}

TEST(Entry, SwitchesMatchWholeAndCaseSensitiveAndArePassedOn) {
    HubSandbox sandbox;
    HubRun run = sandbox.run({"--START", "-Config", "x.json", "--stat"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(
        run.has(command_line_line(sandbox, "quorcpy.exe --start --START -Config x.json --stat")));
}

TEST(Entry, ConfigTakesTheNextArgumentEvenWhenItIsASwitch) {
    HubSandbox sandbox;
    HubRun run = sandbox.run({"-config", "--start"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has(command_line_line(sandbox, "quorcpy.exe --start -config --start")));
}

TEST(Entry, TheLastConfigurationPathWins) {
    HubSandbox sandbox;
    sandbox.write("b.json", "{\"sources\": []}");
    HubRun run =
        sandbox.run({"-config", "a.json", "-config", "b.json", "--status", "-loglevel", "6"});
    EXPECT_TRUE(run.has("Read: [b.json] ... OK(0)")) << testing::PrintToString(run.texts());
    EXPECT_FALSE(run.has("Read: [a.json] ... FAIL(2)"));
    EXPECT_EQ(run.exit_code, 22);

    // A last -config without a value changes nothing.
    HubRun trailing = sandbox.run({"--status", "-config", "b.json", "-loglevel", "6", "-config"});
    EXPECT_TRUE(trailing.has("Read: [b.json] ... OK(0)"))
        << testing::PrintToString(trailing.texts());
    EXPECT_EQ(trailing.exit_code, 22);
}

TEST(Entry, TheCopyReceivesStartInFrontOfTheArguments) {
    if (HubSandbox::windows())
        GTEST_SKIP() << "under Wine the copy does not share standard error; its command line is "
                        "the logged one";
    HubSandbox sandbox;
    // With --start in front the copy finds -config without a value and exits with 2; behind,
    // -config would take --start as its path and the copy would relaunch once more.
    HubRun run = sandbox.run({"-loglevel", "7", "-config"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has(command_line_line(sandbox, "quorcpy.exe --start -loglevel 7 -config")));
    EXPECT_EQ(run.count("Exit code: 2"), 1) << run.output;
    EXPECT_EQ(run.count("Exit code: 0"), 1);
    int command_lines = 0;
    for (const std::string &text : run.texts())
        command_lines += text.rfind("Command Line: ", 0) == 0;
    EXPECT_EQ(command_lines, 1);
}

struct LogLevelCase {
    std::vector<std::string> arguments;
    bool shows_level_6;
};

class EntryLogLevel : public testing::TestWithParam<LogLevelCase> {};

TEST_P(EntryLogLevel, OnlyTheFirstLogLevelCountsAndOnlyZeroToSeven) {
    HubSandbox sandbox;
    std::vector<std::string> arguments = {"--start", "-config", "missing.json"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    HubRun run = sandbox.run(arguments);
    EXPECT_EQ(run.exit_code, 2); // the configuration file does not exist
    EXPECT_EQ(run.has("Read: [missing.json] ... FAIL(2)"), GetParam().shows_level_6)
        << testing::PrintToString(run.texts());
    EXPECT_TRUE(run.has(banner(sandbox)));
    EXPECT_TRUE(run.has("Exit code: 2"));
}

INSTANTIATE_TEST_SUITE_P(Forms, EntryLogLevel,
                         testing::Values(LogLevelCase{{"-loglevel", "6"}, true},
                                         LogLevelCase{{"-loglevel", "7"}, true},
                                         LogLevelCase{{"-loglevel", "9"}, false},
                                         LogLevelCase{{"-loglevel", "-1"}, false},
                                         LogLevelCase{{"-loglevel", "abc"}, false},
                                         LogLevelCase{{"-loglevel", "5", "-loglevel", "7"}, false},
                                         LogLevelCase{{"-loglevel", "9", "-loglevel", "7"}, false},
                                         LogLevelCase{{"-loglevel", "7", "-loglevel", "5"}, true},
                                         LogLevelCase{{"-loglevel"}, false}));

TEST(Entry, RelaunchFailsWhenTheProgramPathNamesNoFile) {
    if (HubSandbox::windows() || HubSandbox::wrapped())
        GTEST_SKIP() << "Wine and memory checkers pass their own program path";
    HubSandbox sandbox;
    HubRun run = sandbox.run({"-loglevel", "7"}, "update-hub-missing");
    EXPECT_EQ(run.exit_code, 254);
    EXPECT_TRUE(run.has("Copy file: src=update-hub-missing -> dest=" +
                        sandbox.hub_path("quorcpy.exe") + " [Error]"));
    EXPECT_TRUE(run.has("Exit code: -2"));
    EXPECT_FALSE(sandbox.exists("quorcpy.exe"));
}

TEST(Entry, RelaunchFailsWhenTheCopyCannotBeWritten) {
    HubSandbox sandbox;
    sandbox.make_directory("quorcpy.exe");
    HubRun run = sandbox.run({"-loglevel", "7"});
    EXPECT_EQ(run.exit_code, 254);
    EXPECT_TRUE(run.has(copy_line(sandbox, "Error")));
    EXPECT_FALSE(run.has(command_line_line(sandbox, "quorcpy.exe --start -loglevel 7")));
    EXPECT_TRUE(run.has("Exit code: -2"));
}

TEST(Entry, RelaunchEndsWithTheErrorOfACopyThatCannotBeStarted) {
    if (HubSandbox::windows() || HubSandbox::wrapped())
        GTEST_SKIP() << "Wine and memory checkers pass their own program path";
    HubSandbox sandbox;
    // The program path names a file without execute permission: it is copied with its bits,
    // and the copy cannot be started (EACCES).
    sandbox.write("not-a-program", "data");
    HubRun run = sandbox.run({"-loglevel", "7"}, "not-a-program");
    EXPECT_EQ(run.exit_code, EACCES);
    EXPECT_TRUE(run.has("Copy file: src=not-a-program -> dest=" + sandbox.hub_path("quorcpy.exe") +
                        " [OK]"));
    EXPECT_TRUE(run.has(command_line_line(sandbox, "quorcpy.exe --start -loglevel 7")));
    EXPECT_EQ(run.texts().back(), "Exit code: " + std::to_string(EACCES));
}

TEST(Entry, RelaunchCommandLineMustFitFourThousandNinetySixCharacters) {
    // "quorcpy.exe --start" and a blank take 20 characters; the terminator takes one more.
    HubSandbox sandbox;
    HubRun fits = sandbox.run({std::string(4075, 'x')});
    EXPECT_EQ(fits.exit_code, 0);
    EXPECT_TRUE(
        fits.has(command_line_line(sandbox, "quorcpy.exe --start " + std::string(4075, 'x'))));

    HubSandbox too_long;
    HubRun refused = too_long.run({std::string(4076, 'x')});
    EXPECT_EQ(refused.exit_code, 7);
    EXPECT_EQ(refused.texts(), (Lines{banner(too_long), "Exit code: 7"}));
    EXPECT_FALSE(too_long.exists("quorcpy.exe"));
}

} // namespace

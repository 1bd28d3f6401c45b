#include "hub_sandbox.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
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
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
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

class EntryOtherProgramPath : public testing::TestWithParam<const char *> {};

// A program path that names no file, or another one, is not the hub's file: the relaunch copies
// the running file as the system names it.
TEST_P(EntryOtherProgramPath, RelaunchCopiesTheRunningFile) {
    if (HubSandbox::windows() || HubSandbox::wrapped())
        GTEST_SKIP() << "Wine and memory checkers pass their own program path";
    HubSandbox sandbox;
    HubRun run = sandbox.run({"-loglevel", "7"}, GetParam());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Copy file: src=" + sandbox.path() +
                        "/update-hub -> dest=" + sandbox.hub_path("quorcpy.exe") + " [OK]"))
        << shortened_log(run);
    EXPECT_EQ(sandbox.read("quorcpy.exe"), sandbox.read(HubSandbox::hub_name()));
}

INSTANTIATE_TEST_SUITE_P(Paths, EntryOtherProgramPath,
                         testing::Values("update-hub-missing", "./example-updater.exe"));

// A drive letter of Wine's mapped to a folder for as long as this lives: a link in the prefix's
// dosdevices, with a letter no other drive has.
class MappedDrive {
  public:
    explicit MappedDrive(const std::string &folder) {
        const char *prefix = getenv("WINEPREFIX");
        const char *home = getenv("HOME");
        std::string devices =
            (prefix && *prefix ? std::string(prefix) : std::string(home ? home : "") + "/.wine") +
            "/dosdevices/";
        for (char letter = 'q'; letter > 'f' && link_.empty(); --letter) {
            std::string candidate = devices + letter + ":";
            std::error_code error;
            if (std::filesystem::exists(std::filesystem::symlink_status(candidate))) continue;
            std::filesystem::create_directory_symlink(folder, candidate, error);
            if (!error) {
                link_ = candidate;
                drive_ = std::string(1, char(letter - 'a' + 'A')) + ":";
            }
        }
    }
    ~MappedDrive() {
        std::error_code ignored;
        if (!link_.empty()) std::filesystem::remove(link_, ignored);
    }
    // "Q:", or empty when no letter could be mapped.
    const std::string &drive() const { return drive_; }

  private:
    std::string link_;
    std::string drive_;
};

// The own directory of a hub in a drive's root is the bare drive ("Q:"), which as a working
// folder would mean the drive's current folder: the copy runs in the root.
TEST(Entry, AHubAtTheRootOfADriveRelaunchesInTheRoot) {
    if (!HubSandbox::windows()) GTEST_SKIP() << "drives are Windows'";
    HubSandbox sandbox;
    prepare_example_cycle(sandbox, "hub.json");
    sandbox.make_directory("sub");
    MappedDrive mapped(sandbox.path());
    std::string drive = mapped.drive();
    ASSERT_FALSE(drive.empty()) << "no drive letter could be mapped";
    HubRun run = sandbox.run_in_cmd({"cd", "/d", drive + "\\sub", "&&", drive + "\\update-hub.exe",
                                    "-config", "hub.json", "-loglevel", "7"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Command Line: quorcpy.exe --start -config hub.json -loglevel 7 - Exec "
                        "Path: " +
                        drive))
        << shortened_log(run);
    EXPECT_EQ(updater_runs(sandbox.wait_for_updater_runs(UPDATER_RECORD, 2, 30)),
              (Runs{with_record({"-ver:office@2|10|1|4.0|" + drive + "/"}),
                    with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}))
        << shortened_log(run);
}

struct ByNameCase {
    const char *name;
    bool relaunch;
    const char *link; // Linux: the hub is found through PATH as this symbolic link
};

class EntryByName : public testing::TestWithParam<ByNameCase> {};

// Writes the example cycle and its programs into a folder of the sandbox.
void prepare_example_folder(const HubSandbox &sandbox, const std::string &folder) {
    sandbox.make_directory(folder);
    for (const char *program : {"example-query.exe", "example-updater.exe"}) {
        sandbox.write(folder + "/" + program, sandbox.read(program));
        make_executable(sandbox.path() + "/" + folder + "/" + program);
    }
    prepare_example_cycle(sandbox, folder + "/hub.json");
    sandbox.write(folder + "/office-answer.json", sandbox.read("office-answer.json"));
}

// Started by its name from another folder, as an installed hub is, the hub registers and
// relaunches from its own folder, not the current one.
TEST_P(EntryByName, TakesItsOwnFolderFromTheSystem) {
    const ByNameCase &c = GetParam();
    if (c.link && HubSandbox::windows()) GTEST_SKIP() << "symbolic links are Linux's here";
    HubSandbox sandbox;
    prepare_example_cycle(sandbox, "hub.json");
    prepare_example_folder(sandbox, "elsewhere");
    std::string own_folder = registration_path(sandbox);
    std::string name;
    if (c.link) {
        // The link stands in the folder PATH names; the file it points to in "real".
        sandbox.make_directory("real");
        sandbox.write("real/update-hub", sandbox.read(HubSandbox::hub_name()));
        make_executable(sandbox.path() + "/real/update-hub");
        std::filesystem::create_symlink(sandbox.path() + "/real/update-hub",
                                        sandbox.path() + "/" + c.link);
        own_folder = sandbox.path() + "/real/";
        name = c.link;
    }
    Lines arguments = {"-config", "hub.json", "-loglevel", "7"};
    if (!c.relaunch) arguments.insert(arguments.begin(), "--start");
    HubRun run = sandbox.run_by_name("elsewhere", arguments, name);
    EXPECT_EQ(run.exit_code, 0) << shortened_log(run);
    // The relaunched copy runs in the own folder; a cycle started here in the current one.
    std::string record = c.relaunch ? UPDATER_RECORD : "elsewhere/" + UPDATER_RECORD;
    EXPECT_EQ(updater_runs(sandbox.wait_for_updater_runs(record, 2, 30)),
              (Runs{with_record({"-ver:office@2|10|1|4.0|" + own_folder}),
                    with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}))
        << shortened_log(run);
    if (c.relaunch && !c.link) {
        EXPECT_EQ(sandbox.read("quorcpy.exe"), sandbox.read(HubSandbox::hub_name()));
    }
    EXPECT_FALSE(sandbox.exists("elsewhere/quorcpy.exe"));
}

INSTANTIATE_TEST_SUITE_P(Modes, EntryByName,
                         testing::Values(ByNameCase{"relaunch", true, nullptr},
                                         ByNameCase{"start", false, nullptr},
                                         ByNameCase{"start_through_a_link", false, "hub-link"}),
                         [](const testing::TestParamInfo<ByNameCase> &info) {
                             return info.param.name;
                         });

TEST(Entry, RelaunchFailsWhenTheCopyCannotBeWritten) {
    HubSandbox sandbox;
    sandbox.make_directory("quorcpy.exe");
    HubRun run = sandbox.run({"-loglevel", "7"});
    EXPECT_EQ(run.exit_code, 254);
    EXPECT_TRUE(run.has(copy_line(sandbox, "Error")));
    EXPECT_FALSE(run.has(command_line_line(sandbox, "quorcpy.exe --start -loglevel 7")));
    EXPECT_TRUE(run.has("Exit code: -2"));
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

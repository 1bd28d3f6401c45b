// The two questions a user asks the program itself: --help and --version.
#include "hub_sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Standard output without the carriage returns the Windows runtime adds to each line.
std::string without_carriage_returns(std::string text) {
    std::erase(text, '\r');
    return text;
}

TEST(Question, HelpPrintsTheUsageAndStartsNothing) {
    HubSandbox sandbox;
    HubRun run = sandbox.run({"--help"});
    EXPECT_EQ(run.exit_code, 0);
    std::string usage = without_carriage_returns(run.standard_output);
    EXPECT_EQ(usage.rfind("Usage: update-hub [-config FILE] [--start] [--status]", 0), 0u) << usage;
    for (const char *topic : {"Modes:", "--status -config FILE", "-loglevel N", "Exit codes:",
                              "standard error", "-report FILE", "-logfile FILE", "--strict", "250"})
        EXPECT_NE(usage.find(topic), std::string::npos) << topic;
    EXPECT_EQ(run.output, ""); // no banner and no exit line
    EXPECT_FALSE(sandbox.exists("quorcpy.exe"));
}

TEST(Question, VersionPrintsTheVersionAlone) {
    HubSandbox sandbox;
    HubRun run = sandbox.run({"--version"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(without_carriage_returns(run.standard_output), "update-hub 1.4.0\n");
    EXPECT_EQ(run.output, "");
    EXPECT_FALSE(sandbox.exists("quorcpy.exe"));
}

struct NotAQuestionCase {
    Lines arguments;
    std::string copy_command_line;
};

class NotAQuestion : public testing::TestWithParam<NotAQuestionCase> {};

TEST_P(NotAQuestion, RelaunchesAndPassesTheArgumentsOn) {
    HubSandbox sandbox;
    HubRun run = sandbox.run(GetParam().arguments);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Command Line: " + GetParam().copy_command_line +
                        " - Exec Path: " + sandbox.hub_path()))
        << testing::PrintToString(run.texts());
    EXPECT_TRUE(sandbox.exists("quorcpy.exe"));
    EXPECT_EQ(run.standard_output, "");
}

INSTANTIATE_TEST_SUITE_P(Arguments, NotAQuestion,
                         testing::Values(NotAQuestionCase{{"--help", "-loglevel", "7"},
                                                          "quorcpy.exe --start --help -loglevel 7"},
                                         NotAQuestionCase{{"-config", "--version"},
                                                          "quorcpy.exe --start -config --version"},
                                         NotAQuestionCase{{"--Help"}, "quorcpy.exe --start --Help"},
                                         NotAQuestionCase{{"-version"},
                                                          "quorcpy.exe --start -version"}));

} // namespace

#include "hub/relaunch.h"

#include "argument_vector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CommandLineCase {
    std::vector<std::string> arguments;
    std::string expected;
};

class RelaunchCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(RelaunchCommandLine, PutsStartFirstAndQuotesOnlyWhatNeedsIt) {
    ArgumentVector arguments("C:\\Apps\\x.exe", GetParam().arguments);
    char line[COMMAND_LINE_SIZE];
    ASSERT_TRUE(
        compose_relaunch_command_line(line, sizeof line, arguments.count(), arguments.data()));
    EXPECT_EQ(std::string(line), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RelaunchCommandLine,
    testing::Values(
        CommandLineCase{{}, "quorcpy.exe --start"},
        CommandLineCase{{"-config", "C:\\cfg\\h.json", "-loglevel", "7"},
                        "quorcpy.exe --start -config C:\\cfg\\h.json -loglevel 7"},
        CommandLineCase{{"-config", "C:\\Program Files\\Hub\\hub.json"},
                        "quorcpy.exe --start -config \"C:\\Program Files\\Hub\\hub.json\""},
        CommandLineCase{{""}, "quorcpy.exe --start \"\""},
        CommandLineCase{{"tab\there"}, "quorcpy.exe --start \"tab\there\""},
        CommandLineCase{{"say \"hi\""}, "quorcpy.exe --start \"say \\\"hi\\\"\""},
        CommandLineCase{{"a\"b"}, "quorcpy.exe --start \"a\\\"b\""},
        CommandLineCase{{"C:\\dir with blank\\"}, "quorcpy.exe --start \"C:\\dir with blank\\\\\""},
        CommandLineCase{{"x\\\\\"y z"}, "quorcpy.exe --start \"x\\\\\\\\\\\"y z\""},
        CommandLineCase{{"back\\slash"}, "quorcpy.exe --start back\\slash"},
        CommandLineCase{{"--START", "-Config"}, "quorcpy.exe --start --START -Config"}));

TEST(RelaunchCommandLine, MustFitWithItsTerminator) {
    std::string program = "x.exe";
    std::string argument(10, 'a'); // "quorcpy.exe --start " is 20 characters
    char *arguments[] = {program.data(), argument.data()};
    char line[31];
    EXPECT_TRUE(compose_relaunch_command_line(line, 31, 2, arguments));
    EXPECT_EQ(std::string(line), "quorcpy.exe --start aaaaaaaaaa");
    EXPECT_FALSE(compose_relaunch_command_line(line, 30, 2, arguments));
}

} // namespace

#include "hub/entry.h"
#include "hub/platform.h"
#include "hub/relaunch.h"
#include "support/log.h"
#include "temporary_directory.h"

#include "argument_vector.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

struct LogLevelCase {
    std::vector<std::string> arguments;
    int expected;
};

class ScanLogLevel : public testing::TestWithParam<LogLevelCase> {};

TEST_P(ScanLogLevel, TakesTheValueAfterTheFirstLogLevelWhenItIsZeroToSeven) {
    ArgumentVector arguments("hub.exe", GetParam().arguments);
    int saved = log_threshold;
    log_threshold = 3;
    scan_log_level(arguments.count(), arguments.data());
    EXPECT_EQ(log_threshold, GetParam().expected);
    log_threshold = saved;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ScanLogLevel,
    testing::Values(LogLevelCase{{}, 3}, LogLevelCase{{"-loglevel", "7"}, 7},
                    LogLevelCase{{"-loglevel", "0"}, 0}, LogLevelCase{{"-loglevel", "9"}, 3},
                    LogLevelCase{{"-loglevel", "-1"}, 3}, LogLevelCase{{"-loglevel", "abc"}, 0},
                    LogLevelCase{{"-loglevel", " 6x"}, 6},
                    LogLevelCase{{"-loglevel", "99999999999999999999"}, 3},
                    LogLevelCase{{"-loglevel", "5", "-loglevel", "7"}, 5},
                    LogLevelCase{{"-loglevel", "9", "-loglevel", "7"}, 3},
                    LogLevelCase{{"-loglevel"}, 3}, LogLevelCase{{"-LogLevel", "7"}, 3},
                    LogLevelCase{{"-config", "-loglevel", "-loglevel", "4"}, 0}));

std::string in_current_directory(const std::string &relative) {
    std::string path = std::filesystem::current_path().string();
    if (platform_separator == '\\') path = std::filesystem::path(path).make_preferred().string();
    return relative.empty() ? path : path + platform_separator + relative;
}

TEST(OwnDirectory, IsTheFullDirectoryOfTheProgramPath) {
    TemporaryDirectory directory;
    char own[OWN_DIRECTORY_SIZE];
    ASSERT_TRUE(resolve_own_directory("hub.exe", own));
    EXPECT_EQ(std::string(own), in_current_directory(""));
    std::string nested = std::string("tools") + platform_separator + "bin" + platform_separator +
                         ".." + platform_separator + "hub.exe";
    ASSERT_TRUE(resolve_own_directory(nested.c_str(), own));
    EXPECT_EQ(std::string(own), in_current_directory("tools"));
}

TEST(OwnDirectory, DoesNotNeedTheFileToExist) {
    TemporaryDirectory directory;
    char own[OWN_DIRECTORY_SIZE];
    ASSERT_TRUE(resolve_own_directory("no-such-program.exe", own));
    EXPECT_EQ(std::string(own), in_current_directory(""));
}

TEST(OwnDirectory, ARootProgramGivesTheBareRoot) {
    char own[OWN_DIRECTORY_SIZE];
    if (platform_separator == '\\') {
        ASSERT_TRUE(resolve_own_directory("C:\\x.exe", own));
        EXPECT_STREQ(own, "C:");
    } else {
        ASSERT_TRUE(resolve_own_directory("/x.exe", own));
        EXPECT_STREQ(own, "");
    }
}

// 259 characters as the platform counts them: bytes on Linux, UTF-16 units on Windows, where a
// directory of two-byte UTF-8 letters therefore fits too.
TEST(OwnDirectory, ADirectoryOfUpTo259CharactersFits) {
    bool windows = platform_separator == '\\';
    for (std::string letter : {"d", "\xC5\xBC"}) { // ż: two bytes, one UTF-16 unit
        if (letter.size() > 1 && !windows) continue;
        char own[OWN_DIRECTORY_SIZE];
        std::string root = windows ? "C:\\" : "/";
        std::string longest = root;
        for (size_t i = root.size(); i < size_t(OWN_DIRECTORY_LIMIT - 1); ++i)
            longest += letter;
        std::string program = longest + platform_separator + "update-hub.exe";
        ASSERT_TRUE(resolve_own_directory(program.c_str(), own)) << letter;
        EXPECT_EQ(std::string(own), longest);
        std::string too_long = longest + letter + platform_separator + "update-hub.exe";
        EXPECT_FALSE(resolve_own_directory(too_long.c_str(), own)) << letter;
    }
}

TEST(OwnDirectory, APathThatCannotBeResolvedIsRefused) {
    char own[OWN_DIRECTORY_SIZE];
    std::string root = platform_separator == '\\' ? "C:\\" : "/";
    std::string too_long = root + std::string(300, 'd') + platform_separator + "x.exe";
    EXPECT_FALSE(resolve_own_directory(too_long.c_str(), own));
    EXPECT_FALSE(resolve_own_directory("", own));
}

} // namespace

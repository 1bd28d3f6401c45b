// Extreme and hostile inputs: the hub keeps going, loses nothing and says what happened.
#include "hub_sandbox.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// A response whose module path is the given JSON string content.
std::string response_with_path(const std::string &identifier, const std::string &path) {
    return "{\"kavor\": \"" + identifier +
           "\", \"modules\": [{\"application\": 1, \"module\": 2, \"version\": "
           "{\"mayor\": 3, \"minor\": 4, \"build\": 5}, \"path\": \"" +
           path + "\"}]}";
}

TEST(Hostile, AFiftyMegabyteResponseIsReadAndItsUpdaterLineRefusedByThePlatform) {
    if (HubSandbox::wrapped()) GTEST_SKIP() << "takes many minutes under a memory checker";
    HubSandbox sandbox;
    std::string response = "{\"kavor\": \"big\", \"modules\": [";
    for (int i = 0; response.size() < 50u * 1024 * 1024; ++i) {
        if (i) response += ", ";
        response += "{\"application\": " + std::to_string(i) +
                    ", \"module\": 1, \"version\": {\"mayor\": 1, \"minor\": 2, \"build\": " +
                    std::to_string(i) + "}, \"path\": \"C:\\\\Apps\\\\Module" + std::to_string(i) +
                    "\"}";
    }
    sandbox.write("big-answer.json", response + "]}");
    sandbox.write("hub.json", example_configuration({query_source("big"), query_source("next")}));
    sandbox.write("next-answer.json", one_module_response("next", 7, 3, "C:\\\\Next"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Read: [big-response.json] ... OK(0)"));
    // The registration and the next source run; the 20 MB command line cannot be started.
    EXPECT_TRUE(run.mentions("\"] ... FAIL(-1)"));
    EXPECT_EQ(updater_runs(sandbox.read(UPDATER_RECORD)),
              (Runs{{"--record", UPDATER_RECORD, registration_argument(sandbox, "big")},
                    {"--record", UPDATER_RECORD, "-ver:next@7|3|1|2.3|C:\\Next"}}));
}

TEST(Hostile, AnUpdaterLineTooLongForTheInterpreterIsReportedAsAFailure) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("long")}));
    sandbox.write("long-answer.json", response_with_path("long", std::string(200000, 'p')));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(updater_runs(sandbox.read(UPDATER_RECORD)).size(), 1u); // the registration only
    // A memory checker runs the start of the interpreter differently and cannot report it.
    if (!HubSandbox::wrapped()) {
        EXPECT_TRUE(run.mentions("\"] ... FAIL(-1)"));
    }
}

struct UnreadableCase {
    const char *name;
    std::string content;
};

class HostileResponse : public testing::TestWithParam<UnreadableCase> {};

TEST_P(HostileResponse, IsSkippedAndTheNextSourceStillRuns) {
    HubSandbox sandbox;
    sandbox.write("bad-answer.json", GetParam().content);
    sandbox.write("good-answer.json", one_module_response("good", 7, 3, "C:\\\\Good"));
    sandbox.write("hub.json", example_configuration({query_source("bad"), query_source("good")}));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Read: [bad-response.json] ... FAIL(22)"));
    EXPECT_EQ(updater_runs(sandbox.read(UPDATER_RECORD)),
              (Runs{{"--record", UPDATER_RECORD, registration_argument(sandbox, "good")},
                    {"--record", UPDATER_RECORD, "-ver:good@7|3|1|2.3|C:\\Good"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Responses, HostileResponse,
    testing::Values(
        UnreadableCase{"nested_a_million_levels", std::string(1000000, '[')},
        UnreadableCase{"zero_byte_inside_a_string",
                       response_with_path("bad", std::string("a\0b", 3))},
        UnreadableCase{"binary_garbage", std::string("\xff\xfe\x00\x01{", 5)},
        UnreadableCase{"text_behind_the_document",
                       one_module_response("bad", 7, 3, "C:\\\\Bad") + "\r\ntrailing garbage {"},
        UnreadableCase{"zero_byte_and_text_behind_the_document",
                       one_module_response("bad", 7, 3, "C:\\\\Bad") + std::string("\0garbage", 8)},
        UnreadableCase{"identifier_three_times",
                       R"({"kavor": "first", "kavor": "second", "modules": [{)"
                       R"("application": 7, "module": 3, "version": {"mayor": 1, )"
                       R"("minor": 2, "build": 3}, "path": "C:\\Good"}], )"
                       R"("kavor": "third"})"},
        UnreadableCase{"module_path_twice", R"({"kavor": "bad", "modules": [{"application": 7, )"
                                            R"("module": 3, "version": {"mayor": 1, "minor": 2, )"
                                            R"("build": 3}, "path": "C:\\A", "path": "C:\\B"}]})"},
        UnreadableCase{"build_number_twice", R"({"kavor": "bad", "modules": [{"application": 7, )"
                                             R"("module": 3, "version": {"mayor": 1, "build": 4, )"
                                             R"("minor": 2, "build": 3}, "path": "C:\\A"}]})"}),
    [](const testing::TestParamInfo<UnreadableCase> &info) { return info.param.name; });

struct NotAFileCase {
    const char *name;
    const char *make; // the shell command that the query is, given the response's name
    int error;
};

class HostileNotARegularFile : public testing::TestWithParam<NotAFileCase> {};

// A query that leaves something other than a regular file at its response's name (a FIFO would
// hold a reader for ever) skips its source with an error number of its own.
TEST_P(HostileNotARegularFile, SkipsItsSourceWithoutWaiting) {
    if (HubSandbox::windows()) GTEST_SKIP() << "FIFOs and devices by name are Linux's";
    const NotAFileCase &c = GetParam();
    HubSandbox sandbox;
    sandbox.write("good-answer.json", one_module_response("good", 7, 3, "C:\\\\Good"));
    sandbox.write("hub.json", example_configuration({"{\"application\": \"" + std::string(c.make) +
                                                         " bad-response.json\", \"response\": "
                                                         "\"bad-response.json\"}",
                                                     query_source("good")}));
    HubRun run = sandbox.run({"--start", "-config", "hub.json", "-loglevel", "7"}, "", 60);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Read: [bad-response.json] ... FAIL(" + std::to_string(c.error) + ")"))
        << shortened_log(run);
    EXPECT_EQ(updater_runs(sandbox.read(UPDATER_RECORD)),
              (Runs{{"--record", UPDATER_RECORD, registration_argument(sandbox, "good")},
                    {"--record", UPDATER_RECORD, "-ver:good@7|3|1|2.3|C:\\Good"}}));
}

INSTANTIATE_TEST_SUITE_P(Responses, HostileNotARegularFile,
                         testing::Values(NotAFileCase{"fifo", "mkfifo", 19},
                                         NotAFileCase{"device", "ln -s /dev/null", 19},
                                         NotAFileCase{"directory", "mkdir", 21}),
                         [](const testing::TestParamInfo<NotAFileCase> &info) {
                             return info.param.name;
                         });

TEST(Hostile, AConfigurationThatIsAFifoEndsTheCycleWithoutWaiting) {
    if (HubSandbox::windows()) GTEST_SKIP() << "FIFOs are Linux's";
    HubSandbox sandbox;
    ASSERT_EQ(mkfifo((sandbox.path() + "/hub.json").c_str(), 0600), 0);
    HubRun run = sandbox.run({"--start", "-config", "hub.json", "-loglevel", "6"}, "", 60);
    EXPECT_EQ(run.exit_code, 19);
    EXPECT_TRUE(run.has("Read: [hub.json] ... FAIL(19)")) << shortened_log(run);
}

class HostileLogReader : public testing::TestWithParam<bool> {};

// A reader of the log that goes away (a `| head`, a service manager's pipe) makes only the log's
// writes fail: the cycle goes on, and its commands get SIGPIPE as the hub's starter gave it.
TEST_P(HostileLogReader, ThatClosesThePipeStopsNothing) {
    if (HubSandbox::windows()) GTEST_SKIP() << "a closed pipe ends only a POSIX process";
    bool relaunch = GetParam();
    HubSandbox sandbox;
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write(
        "hub.json",
        example_configuration({"{\"application\": \"grep ^SigIgn: /proc/self/status > "
                               "ignored.txt && ./example-query.exe office-answer.json "
                               "office-response.json\", \"response\": \"office-response.json\"}"}));
    Lines arguments = {"-config", "hub.json", "-loglevel", "7"};
    if (!relaunch) arguments.insert(arguments.begin(), "--start");
    HubRun run = sandbox.run_closing_log(arguments, 2);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(updater_runs(sandbox.wait_for_updater_runs(UPDATER_RECORD, 2, 30)),
              (Runs{{"--record", UPDATER_RECORD, registration_argument(sandbox, "office")},
                    {"--record", UPDATER_RECORD, "-ver:office@7|3|1|2.3|C:\\Office"}}));
    struct sigaction own;
    sigaction(SIGPIPE, nullptr, &own);
    std::string ignored = sandbox.read("ignored.txt");
    ASSERT_EQ(ignored.rfind("SigIgn:", 0), 0u) << ignored;
    unsigned long long mask = std::stoull(ignored.substr(7), nullptr, 16);
    EXPECT_EQ((mask >> (SIGPIPE - 1)) & 1, own.sa_handler == SIG_IGN ? 1u : 0u) << ignored;
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileLogReader, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "relaunch" : "start";
                         });

TEST(Hostile, BytesThatAreNotUtf8ReachTheUpdaterUnchanged) {
    if (HubSandbox::windows()) GTEST_SKIP() << "Windows reads such text in its ANSI code page";
    HubSandbox sandbox;
    std::string path = "C:\\\\\xff\xfe\x80\xc3";
    sandbox.write("raw-answer.json", response_with_path("raw", path));
    sandbox.write("hub.json", example_configuration({query_source("raw")}));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    Runs runs = updater_runs(sandbox.read(UPDATER_RECORD));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].back(), "-ver:raw@1|2|3|4.5|C:\\\xff\xfe\x80\xc3");
}

TEST(Hostile, AThousandSourcesAreAllQueried) {
    // Wine starts cmd.exe slowly, so it walks a hundred.
    int count = HubSandbox::windows() ? 100 : 1000;
    HubSandbox sandbox;
    std::string sources;
    for (int i = 0; i < count; ++i)
        sources += std::string(i ? ", " : "") + "{\"application\": \"example-query.exe - r" +
                   std::to_string(i) + ".json 1\", \"response\": \"r" + std::to_string(i) +
                   ".json\"}";
    sandbox.write("hub.json", "{\"sources\": [" + sources + "]}");
    HubRun run = sandbox.run({"--status", "-config", "hub.json", "-loglevel", "6"}, "", 900);
    EXPECT_EQ(run.exit_code, 0);
    // Every source's line, also where another process (Wine's own) wrote into the stream.
    for (int i = 0; i < count; ++i)
        EXPECT_TRUE(run.mentions("Read: [r" + std::to_string(i) + ".json] ... FAIL(2)")) << i;
    std::string malformed;
    for (const std::string &line : run.malformed)
        malformed += line + "\n";
    EXPECT_EQ(run.lines.size() + run.malformed.size(), size_t(count) + 3) << malformed;
}

TEST(Hostile, AnOwnDirectoryOfTwoHundredFiftyNineCharactersStillRelaunches) {
    if (HubSandbox::windows()) GTEST_SKIP() << "Windows paths stop at 260 characters";
    HubSandbox sandbox;
    std::string subdirectory;
    while (sandbox.path().size() + 1 + subdirectory.size() + 50 < 259)
        subdirectory += std::string(49, 'd') + "/";
    subdirectory += std::string(259 - sandbox.path().size() - 1 - subdirectory.size(), 'e');
    ASSERT_EQ(sandbox.path().size() + 1 + subdirectory.size(), 259u);
    HubRun fits = sandbox.run_in(subdirectory, {"-loglevel", "7"});
    EXPECT_EQ(fits.exit_code, 0);
    EXPECT_TRUE(fits.has("Command Line: quorcpy.exe --start -loglevel 7 - Exec Path: " +
                         sandbox.path() + "/" + subdirectory));
    EXPECT_TRUE(sandbox.exists(subdirectory + "/quorcpy.exe"));

    HubRun too_long = sandbox.run_in(subdirectory + "f", {"-loglevel", "7"});
    EXPECT_EQ(too_long.exit_code, 36); // ENAMETOOLONG
    EXPECT_TRUE(too_long.has("Exit code: 36"));
    EXPECT_FALSE(sandbox.exists(subdirectory + "f/quorcpy.exe"));
}

TEST(Hostile, ARegistrationLongerThanFourKilobytesIsNotCut) {
    HubSandbox sandbox;
    std::string identifier(5000, 'k');
    sandbox.write("long-answer.json", one_module_response(identifier, 7, 3, "C:\\\\Long"));
    sandbox.write("hub.json", example_configuration({query_source("long")}));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    Runs runs = updater_runs(sandbox.read(UPDATER_RECORD));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].back(), registration_argument(sandbox, identifier));
}

TEST(Hostile, ACrashingUpdaterIsReportedAndTheCycleGoesOn) {
    HubSandbox sandbox;
    sandbox.write("a-answer.json", one_module_response("a", 1, 1, "C:\\\\A"));
    sandbox.write("b-answer.json", one_module_response("b", 2, 2, "C:\\\\B"));
    sandbox.write("hub.json",
                  example_configuration({query_source("a"), query_source("b")}, ", \"--crash\""));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(updater_runs(sandbox.read(UPDATER_RECORD)).size(), 3u);
    std::string crashed = HubSandbox::windows() ? "ERROR(3)" : "ERROR(134)"; // abort()
    EXPECT_TRUE(run.has("Executed: [ravcpy.exe --record updates.txt --crash "
                        "\"-ver:b@2|2|1|2.3|C:\\B\"] ... " +
                        crashed))
        << testing::PrintToString(run.texts());
}

} // namespace

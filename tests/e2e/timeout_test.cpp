// Commands that never end: a query or an updater run past its "timeout" is ended with every
// process it started, and the cycle goes on.
#include "hub_sandbox.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

// The status a command ended at its timeout is recorded with.
std::string timed_out_status() {
    return HubSandbox::windows() ? "TIMEOUT(1460)" : "TIMEOUT(137)";
}

// Long enough for a child that was left running to have shown itself.
void outlive_the_children() {
    std::this_thread::sleep_for(std::chrono::seconds(4));
}

TEST(Timeout, AQueryPastItsTimeoutIsEndedWithItsChildAndItsResponseIsNeverRead) {
    HubSandbox sandbox;
    // The response is written first; then the query hangs, with a child that would create
    // "query-child" after three seconds.
    // (The shell finds a program in the current folder only for the first word of a line.)
    std::string second = HubSandbox::windows() ? "example-query.exe" : "./example-query.exe";
    std::string hung = "example-query.exe slow-answer.json slow-response.json && " + second +
                       " --child 3 query-child --sleep 60 - -";
    sandbox.write("hub.json",
                  example_configuration({"{\"application\": \"" + hung +
                                             "\", \"response\": \"slow-response.json\", "
                                             "\"timeout\": 1}",
                                         query_source("office")}));
    sandbox.write("slow-answer.json", one_module_response("slow", 1, 1, "C:\\\\Slow"));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.has("Executed: [" + hung + "] ... " + timed_out_status()))
        << shortened_log(run);
    EXPECT_FALSE(run.mentions("Read: [slow-response.json]"));
    EXPECT_FALSE(sandbox.exists("slow-response.json"));
    EXPECT_EQ(recorded_runs(sandbox), (Runs{with_record({registration_argument(sandbox, "office")}),
                                            with_record({"-ver:office@7|3|1|2.3|C:\\Office"})}));
    outlive_the_children();
    EXPECT_FALSE(sandbox.exists("query-child"));
}

TEST(Timeout, AnUpdaterRunPastItsTimeoutIsEndedWithItsChildAndTheCycleGoesOn) {
    HubSandbox sandbox;
    std::string configuration = example_configuration(
        {query_source("office"), query_source("tools")},
        ", \"--child\", \"3\", \"updater-child\", \"--sleep\", \"60\"", ", \"timeout\": 1.5");
    sandbox.write("hub.json", configuration);
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("tools-answer.json", one_module_response("tools", 12, 1, "D:\\\\Tools"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    std::string prefix = "ravcpy.exe --record updates.txt --child 3 updater-child --sleep 60 ";
    EXPECT_TRUE(run.has("Executed: [" + prefix + "\"-ver:tools@12|1|1|2.3|D:\\Tools\"] ... " +
                        timed_out_status()))
        << shortened_log(run);
    EXPECT_EQ(run.count("Execute updater: " + prefix + "\"-ver:tools@12|1|1|2.3|D:\\Tools\""), 1);
    EXPECT_EQ(recorded_runs(sandbox).size(), 3u); // the registration, office and tools
    outlive_the_children();
    EXPECT_FALSE(sandbox.exists("updater-child"));
}

struct ShortTimeoutCase {
    const char *name;
    const char *timeout;    // as written in the configuration
    const char *mark_after; // seconds after which the hung query would leave its mark
};

class TimeoutShort : public testing::TestWithParam<ShortTimeoutCase> {};

// However short, a timeout is a bound: milliseconds rounded up, never 0 (no limit) and never
// whole seconds.
TEST_P(TimeoutShort, EndsAHungQueryBeforeItLeavesItsMark) {
    const ShortTimeoutCase &c = GetParam();
    HubSandbox sandbox;
    std::string hung =
        std::string("example-query.exe --sleep ") + c.mark_after + " --started late --sleep 20 - -";
    sandbox.write("hub.json", example_configuration({"{\"application\": \"" + hung +
                                                         "\", \"response\": \"r.json\", "
                                                         "\"timeout\": " +
                                                         c.timeout + "}",
                                                     query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0) << shortened_log(run);
    EXPECT_TRUE(run.has("Executed: [" + hung + "] ... " + timed_out_status()))
        << shortened_log(run);
    EXPECT_FALSE(sandbox.exists("late"));
    EXPECT_EQ(recorded_runs(sandbox).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Seconds, TimeoutShort,
    testing::Values(ShortTimeoutCase{"a_fifth_of_a_second", "0.2", "0.6"},
                    ShortTimeoutCase{"less_than_a_millisecond", "0.0004", "5"},
                    ShortTimeoutCase{"below_the_smallest_double", "1e-400", "5"}),
    [](const testing::TestParamInfo<ShortTimeoutCase> &info) { return info.param.name; });

class TimeoutOrNot : public testing::TestWithParam<bool> {};

// The interpreter sees the same line with a timeout as without one, so the updater and the
// query receive the same arguments.
TEST_P(TimeoutOrNot, GivesTheCommandsTheSameLine) {
    bool with_timeout = GetParam();
    std::string timeout = with_timeout ? ", \"timeout\": 30" : "";
    HubSandbox sandbox;
    // Items with blanks or signs for the interpreter stay whole only in the quotes they bring.
    std::string configuration = example_configuration(
        {query_source("odd", 2, "\"updater_params\": [\"\\\"a b\\\"\", \"-x\"]" + timeout)},
        ", \"--and\", \"\\\"(x) & y\\\"\"", timeout);
    sandbox.write("hub.json", configuration);
    sandbox.write("odd-answer.json",
                  one_module_response("odd & id", 7, 3, "C:\\\\Program Files\\\\A & B (x)\\\\"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(recorded_runs(sandbox),
              (Runs{with_record({"--and", "(x) & y", registration_argument(sandbox, "odd & id")}),
                    with_record({"--and", "(x) & y", "a b", "-x",
                                 "-ver:odd & id@7|3|1|2.3|C:\\Program Files\\A & B (x)\\"})}))
        << shortened_log(run);
}

INSTANTIATE_TEST_SUITE_P(Both, TimeoutOrNot, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "with_timeout" : "without_timeout";
                         });

} // namespace

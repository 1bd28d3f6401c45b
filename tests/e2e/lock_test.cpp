// The cycle lock, the working copies and the commands of a hub that ends: no other account
// takes the lock, copies are made fresh, and nothing the hub started outlives it.
#include "hub_sandbox.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const uid_t NOBODY = 65534;

// The prefix that runs a program as the account nobody; empty when this process may not.
std::vector<std::string> as_nobody() {
    if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) return {};
    return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
}

// Lets nobody into the sandbox: read everything, write nothing.
void open_to_others(const HubSandbox &sandbox) {
    chmod(sandbox.path().c_str(), 0755);
    for (const auto &entry : fs::directory_iterator(sandbox.path()))
        chmod(entry.path().c_str(), 0755);
}

// The example configuration with the updater recording to another file.
std::string configuration_recording_to(const std::string &record,
                                       const std::vector<std::string> &sources) {
    std::string configuration = example_configuration(sources);
    configuration.replace(configuration.find(UPDATER_RECORD), UPDATER_RECORD.size(), record);
    return configuration;
}

// A source whose query waits for the gate file before it answers.
std::string gated_source(const std::string &name, const std::string &gate) {
    return "{\"application\": \"example-query.exe --started " + name + "-started --wait-for " +
           gate + " " + name + "-answer.json " + name + "-response.json 0\", \"response\": \"" +
           name + "-response.json\"}";
}

// The launcher of the Windows build's tests, beside the hub under test.
std::string job_launcher() {
    const char *hub = getenv("HUB_EXE");
    return hub ? fs::absolute(fs::path(hub).parent_path() / "tests" / "hub-job-launcher.exe")
                     .string()
               : "";
}

TEST(Lock, AnotherAccountThatLocksTheConfigurationStopsNoCycle) {
    std::vector<std::string> nobody = as_nobody();
    if (HubSandbox::windows() || nobody.empty())
        GTEST_SKIP() << "needs a second account (root and setpriv)";
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    open_to_others(sandbox);
    for (const char *mode : {"-x", "-s"}) {
        SCOPED_TRACE(mode);
        // nobody may read the configuration and holds a lock on it while the cycle runs.
        // (From a sandbox of its own, which waits for it on its own.)
        std::vector<std::string> squatter = nobody;
        std::string configuration = sandbox.path() + "/hub.json";
        for (const char *word :
             {"/usr/bin/flock", mode, "-n", configuration.c_str(), "sleep", "10"})
            squatter.push_back(word);
        HubSandbox squatters;
        HubRun squatted{-1, {}, {}, {}, {}};
        std::thread holder([&] { squatted = squatters.run_words(squatter, 120); });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        HubRun run = run_cycle(sandbox);
        holder.join();
        EXPECT_EQ(squatted.exit_code, 0) << "the squatter could not lock the configuration";
        EXPECT_EQ(run.exit_code, 0) << shortened_log(run);
        EXPECT_EQ(recorded_runs(sandbox).size(), 2u);
        fs::remove(sandbox.path() + "/" + UPDATER_RECORD);
    }
    // The lock file is the hub account's alone: nobody cannot even open it to lock it.
    std::vector<std::string> taker = nobody;
    for (const char *word : {"/usr/bin/flock", "-n", "hub.json.lock", "true"})
        taker.push_back(word);
    EXPECT_NE(sandbox.run_words(taker).exit_code, 0);
    struct stat status;
    ASSERT_EQ(lstat((sandbox.path() + "/hub.json.lock").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

// The 64-bit FNV-1a of an ASCII text taken as UTF-16 units.
unsigned long long fnv1a(const std::string &text) {
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

TEST(Lock, AMutexNamedAfterTheConfigurationStopsNoCycle) {
    if (!HubSandbox::windows() || !fs::exists(job_launcher()))
        GTEST_SKIP() << "for the Windows build with its test launcher";
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    std::string path = sandbox.hub_path("hub.json");
    for (char &c : path)
        c = char(toupper(static_cast<unsigned char>(c)));
    char name[64];
    snprintf(name, sizeof name, "Global\\update-hub-cycle-%016llx", fnv1a(path));
    // (From a sandbox of its own, which waits for it on its own.)
    HubSandbox squatters;
    std::thread holder([&] {
        squatters.run_words({job_launcher(), "--hold-mutex", name, "held"});
    });
    bool held = wait_for_file(squatters, "held", 60);
    HubRun run = held ? run_cycle(sandbox) : HubRun{-1, {}, {}, {}, {}};
    squatters.kill_running();
    holder.join();
    ASSERT_TRUE(held);
    EXPECT_EQ(run.exit_code, 0) << shortened_log(run);
    EXPECT_EQ(recorded_runs(sandbox).size(), 2u);
}

TEST(Lock, ACommandLeftRunningByAQueryDoesNotHoldIt) {
    HubSandbox sandbox;
    // The query leaves a child of its own running for a minute, away from the log's pipe.
    std::string quiet = HubSandbox::windows() ? " 2>NUL" : " 2>/dev/null";
    sandbox.write("hub.json",
                  example_configuration({"{\"application\": \"example-query.exe --child 60 "
                                         "child-done office-answer.json office-response.json 0" +
                                         quiet + "\", \"response\": \"office-response.json\"}"}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    // Under Wine the run waits for the child, which holds the hub's handles; the hub itself has
    // ended a moment after the updater's second run.
    HubRun first{-1, {}, {}, {}, {}};
    std::thread first_cycle([&] { first = run_cycle(sandbox); });
    sandbox.wait_for_updater_runs(UPDATER_RECORD, 2);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    sandbox.write("hub.json", example_configuration({query_source("office")}));
    HubRun second = run_cycle(sandbox);
    bool child_still_running = !sandbox.exists("child-done");
    first_cycle.join();
    EXPECT_EQ(first.exit_code, 0) << shortened_log(first);
    EXPECT_EQ(second.exit_code, 0) << shortened_log(second);
    EXPECT_EQ(recorded_runs(sandbox).size(), 4u);
    EXPECT_TRUE(child_still_running);
}

TEST(WorkingCopy, IsMadeFreshOverAFileOfAnotherAccountAndOverALink) {
    if (HubSandbox::windows()) GTEST_SKIP() << "Wine takes a Unix link for the file it names";
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    // A link named like the working copy: its target must stay as it is.
    sandbox.write("target", "someone's file");
    fs::create_symlink(sandbox.path() + "/target", sandbox.path() + "/ravcpy.exe");
    HubRun linked = run_cycle(sandbox);
    EXPECT_EQ(linked.exit_code, 0) << shortened_log(linked);
    EXPECT_EQ(sandbox.read("target"), "someone's file");
    EXPECT_FALSE(fs::is_symlink(sandbox.path() + "/ravcpy.exe"));
    EXPECT_EQ(sandbox.read("ravcpy.exe"), sandbox.read("example-updater.exe"));
    if (geteuid() != 0) return;
    // A working copy that another account made (and could still write) is replaced by one of
    // the hub's own.
    fs::remove(sandbox.path() + "/ravcpy.exe");
    sandbox.write("ravcpy.exe", "#!/bin/sh\n");
    ASSERT_EQ(chown((sandbox.path() + "/ravcpy.exe").c_str(), NOBODY, NOBODY), 0);
    HubRun foreign = run_cycle(sandbox);
    EXPECT_EQ(foreign.exit_code, 0) << shortened_log(foreign);
    struct stat status;
    ASSERT_EQ(stat((sandbox.path() + "/ravcpy.exe").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
}

TEST(WorkingCopy, OfAReadOnlyUpdaterAndHubIsMadeAgainByAHubThatIsNotRoot) {
    std::vector<std::string> nobody = as_nobody();
    if (HubSandbox::windows() || nobody.empty())
        GTEST_SKIP() << "needs an ordinary account to run the hub (root and setpriv)";
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    chmod((sandbox.path() + "/example-updater.exe").c_str(), 0555);
    chmod((sandbox.path() + "/" + HubSandbox::hub_name()).c_str(), 0555);
    for (const auto &entry : fs::directory_iterator(sandbox.path()))
        chown(entry.path().c_str(), NOBODY, NOBODY);
    chown(sandbox.path().c_str(), NOBODY, NOBODY);
    std::vector<std::string> cycle = nobody;
    for (const char *word : {"./update-hub", "--start", "-config", "hub.json", "-loglevel", "7"})
        cycle.push_back(word);
    std::vector<std::string> relaunch = nobody;
    for (const char *word : {"./update-hub", "-loglevel", "7"})
        relaunch.push_back(word);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HubRun run = sandbox.run_words(cycle);
        EXPECT_EQ(run.exit_code, 0) << shortened_log(run);
        HubRun relaunched = sandbox.run_words(relaunch);
        EXPECT_EQ(relaunched.exit_code, 0) << shortened_log(relaunched);
    }
    EXPECT_EQ(recorded_runs(sandbox).size(), 4u);
}

struct OwnCopyCase {
    const char *name;
    bool on_windows;
    bool on_linux;
    const char *application; // the updater as the configuration names it
    bool hard_link;          // the updater is a second name of ravcpy.exe
};

class WorkingCopyOfItself : public testing::TestWithParam<OwnCopyCase> {};

TEST_P(WorkingCopyOfItself, IsAConfigurationErrorAndTheUpdaterStays) {
    const OwnCopyCase &c = GetParam();
    if (!(HubSandbox::windows() ? c.on_windows : c.on_linux))
        GTEST_SKIP() << "for the other platform";
    HubSandbox sandbox;
    sandbox.write("ravcpy.exe", sandbox.read("example-updater.exe"));
    make_executable(sandbox.path() + "/ravcpy.exe");
    if (c.hard_link)
        fs::create_hard_link(sandbox.path() + "/ravcpy.exe", sandbox.path() + "/" + c.application);
    sandbox.write("hub.json", configuration_with_updater(c.application, {query_source("office")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 22);
    EXPECT_TRUE(run.has("Get ravcpy: Error getting ravcpy")) << shortened_log(run);
    EXPECT_FALSE(run.mentions("Copy file:"));
    EXPECT_EQ(sandbox.read("ravcpy.exe"), sandbox.read("example-updater.exe"));
    EXPECT_FALSE(sandbox.exists(UPDATER_RECORD));
}

INSTANTIATE_TEST_SUITE_P(
    Names, WorkingCopyOfItself,
    testing::Values(OwnCopyCase{"same_name", true, true, "ravcpy.exe", false},
                    OwnCopyCase{"in_capitals", true, false, "RAVCPY.EXE", false},
                    OwnCopyCase{"another_name_of_the_file", false, true, "updater.exe", true}),
    [](const testing::TestParamInfo<OwnCopyCase> &info) { return info.param.name; });

TEST(Relaunch, FromTheCopyItselfIsRefusedAndTheCopyStays) {
    HubSandbox sandbox;
    sandbox.write("quorcpy.exe", sandbox.read(HubSandbox::hub_name()));
    make_executable(sandbox.path() + "/quorcpy.exe");
    // The copy itself runs, named by its path: the program path then names the running file.
    HubRun run = HubSandbox::windows()
                     ? sandbox.run_words({"quorcpy.exe", "-loglevel", "7"})
                     : sandbox.run_words({sandbox.path() + "/quorcpy.exe", "-loglevel", "7"});
    EXPECT_EQ(run.exit_code, 22);
    EXPECT_EQ(run.texts().back(), "Exit code: 22");
    EXPECT_FALSE(run.mentions("Copy file:"));
    EXPECT_FALSE(run.mentions("Command Line:"));
    EXPECT_EQ(sandbox.read("quorcpy.exe"), sandbox.read(HubSandbox::hub_name()));
}

TEST(Relaunch, WorksWhileAnotherRelaunchedCycleRuns) {
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({gated_source("office", "gate")}));
    sandbox.write("second.json", configuration_recording_to("second.txt", {query_source("tools")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    sandbox.write("tools-answer.json", one_module_response("tools", 12, 1, "D:\\\\Tools"));
    // On Linux a run waits for the relaunched copy too, which shares its standard error.
    HubRun first{-1, {}, {}, {}, {}};
    std::thread first_relaunch([&] {
        first = sandbox.run({"-config", "hub.json", "-loglevel", "7"});
    });
    bool started = wait_for_file(sandbox, "office-started", 60);
    // The same configuration: the copy starts and ends with 16; another one: its cycle runs.
    HubRun same = started ? sandbox.run({"-config", "hub.json", "-loglevel", "7"}) : HubRun{};
    HubRun other = started ? sandbox.run({"-config", "second.json", "-loglevel", "7"}) : HubRun{};
    std::string second_record = sandbox.wait_for_updater_runs("second.txt", 2);
    sandbox.write("gate", "");
    std::string first_record = sandbox.wait_for_updater_runs(UPDATER_RECORD, 2);
    first_relaunch.join();
    ASSERT_TRUE(started) << shortened_log(first);
    EXPECT_EQ(first.exit_code, 0);
    EXPECT_EQ(same.exit_code, 0) << shortened_log(same);
    EXPECT_EQ(other.exit_code, 0) << shortened_log(other);
    if (!HubSandbox::windows()) { // the copy shares standard error on Linux
        EXPECT_TRUE(same.mentions("Exit code: 16")) << same.output;
    }
    EXPECT_EQ(updater_runs(second_record).size(), 2u);
    EXPECT_EQ(updater_runs(first_record).size(), 2u);
}

TEST(KilledHub, EndsTheUpdaterItRanAndTheNextCycleRuns) {
    HubSandbox sandbox;
    sandbox.write("hub.json",
                  example_configuration({query_source("office")},
                                        ", \"--child\", \"3\", \"updater-child\", \"--sleep\", "
                                        "\"60\"",
                                        ", \"timeout\": 300"));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    auto start = std::chrono::steady_clock::now();
    std::thread cycle([&] { run_cycle(sandbox); });
    // The registration's run has begun: it would sleep for a minute.
    sandbox.wait_for_updater_runs(UPDATER_RECORD, 1);
    sandbox.kill_running();
    // The run returns once nothing holds the log's pipe: the updater, had it stayed, would.
    cycle.join();
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(seconds.count(), 45);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_FALSE(sandbox.exists("updater-child"));
    // The next cycle makes its working copy anew and runs.
    sandbox.write("hub.json", example_configuration({query_source("office")}));
    HubRun next = run_cycle(sandbox);
    EXPECT_EQ(next.exit_code, 0) << shortened_log(next);
    EXPECT_EQ(recorded_runs(sandbox).size(), 3u);
}

TEST(Relaunch, OutlivesTheKillOnCloseJobOfItsLauncher) {
    if (!HubSandbox::windows() || !fs::exists(job_launcher()))
        GTEST_SKIP() << "for the Windows build with its test launcher";
    HubSandbox sandbox;
    sandbox.write("hub.json", example_configuration({gated_source("office", "gate")}));
    sandbox.write("office-answer.json", one_module_response("office", 7, 3, "C:\\\\Office"));
    HubRun launched = sandbox.run_words(
        {job_launcher(), HubSandbox::hub_name(), "-config", "hub.json", "-loglevel", "7"});
    EXPECT_EQ(launched.exit_code, 0) << shortened_log(launched);
    // The launcher has ended, and its job with it; the relaunched cycle goes on.
    bool started = wait_for_file(sandbox, "office-started", 60);
    sandbox.write("gate", "");
    EXPECT_TRUE(started);
    EXPECT_EQ(updater_runs(sandbox.wait_for_updater_runs(UPDATER_RECORD, 2)).size(), 2u);

    // A job that allows no breaking away: the copy starts in it, as before.
    HubRun confined = sandbox.run_words({job_launcher(), "--no-breakaway", HubSandbox::hub_name(),
                                         "-config", "none.json", "-loglevel", "7"});
    EXPECT_EQ(confined.exit_code, 0) << shortened_log(confined);
    EXPECT_TRUE(confined.mentions("Command Line: quorcpy.exe --start -config none.json"));
}

} // namespace

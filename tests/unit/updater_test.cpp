#include "allocation_sweep.h"
#include "ansi_code_page.h"
#include "hub/command.h"
#include "hub/platform.h"
#include "hub/updater.h"
#include "json_document.h"
#include "log_capture.h"
#include "support/memory.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool on_windows() {
    return platform_separator == '\\';
}

struct Buffer {
    TextBuffer text;
    explicit Buffer(const std::string &content = "") {
        text_buffer_init(&text);
        if (!content.empty()) text_buffer_append(&text, content.data(), uint32_t(content.size()));
    }
    ~Buffer() { mem_free(text.data); }
    std::string str() const { return text.data ? std::string(text.data, text.length) : ""; }
};

// The updater is "echo" with its output sent to a file, which works alike in both interpreters.
const std::string PREFIX = "echo >updater-output.txt ";

std::string
module_entry(const std::string &application, const std::string &path,
             const std::string &version = "{\"mayor\": 2, \"minor\": 5, \"build\": 118}") {
    return "{\"application\": " + application + ", \"module\": 3, \"version\": " + version +
           ", \"path\": \"" + path + "\"}";
}

struct AppendCase {
    const char *name;
    const char *key;
    uint32_t wanted;
    const char *suffix;
    int status;
    const char *text;
};

class AppendMemberText : public testing::TestWithParam<AppendCase> {};

TEST_P(AppendMemberText, AppendsTheTextOfAPresentNonEmptyMemberOfTheWantedType) {
    LogCapture log;
    Document document(R"({"s": "C:\\Apps", "n": 2.50, "empty": "", "list": [], "t": true})");
    Buffer out("x=");
    const AppendCase &c = GetParam();
    EXPECT_EQ(append_member_text(&out.text, document.root, c.key, c.wanted, c.suffix), c.status);
    EXPECT_EQ(out.str(), std::string("x=") + c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendMemberText,
    testing::Values(AppendCase{"string_with_suffix", "s", JSON_STRING, "|", 0, "C:\\Apps|"},
                    AppendCase{"number_as_written", "n", JSON_NUMBER, nullptr, 0, "2.50"},
                    AppendCase{"wrong_type", "n", JSON_STRING, "|", 22, ""},
                    AppendCase{"empty_string", "empty", JSON_STRING, "|", 22, ""},
                    AppendCase{"empty_array", "list", JSON_ARRAY, nullptr, 22, ""},
                    AppendCase{"missing", "nothing", JSON_STRING, "|", 22, ""},
                    AppendCase{"literal_is_not_a_string", "t", JSON_STRING, nullptr, 22, ""}),
    [](const testing::TestParamInfo<AppendCase> &info) { return info.param.name; });

TEST(AppendMemberTextOf, ANonObjectFailsWithoutTouchingTheBuffer) {
    Document document("[1]");
    Buffer out("keep");
    EXPECT_EQ(append_member_text(&out.text, document.root, "a", JSON_NUMBER, "|"), 22);
    EXPECT_EQ(append_member_text(&out.text, nullptr, "a", JSON_NUMBER, "|"), 22);
    EXPECT_EQ(out.str(), "keep");
}

struct UpdaterCase {
    const char *name;
    std::string response;
    std::string source_arguments;
    int status;
    std::string version_argument; // empty: nothing runs
};

class RunUpdater : public testing::TestWithParam<UpdaterCase> {};

TEST_P(RunUpdater, ComposesTheVersionArgumentOrRunsNothing) {
    TemporaryDirectory directory;
    LogCapture log;
    const UpdaterCase &c = GetParam();
    Document response(c.response);
    Buffer prefix(PREFIX);
    Buffer arguments(c.source_arguments);
    EXPECT_EQ(run_updater(&prefix.text, response.root, &arguments.text), c.status);
    EXPECT_EQ(prefix.str(), PREFIX);
    EXPECT_EQ(arguments.str(), c.source_arguments);
    if (c.version_argument.empty()) {
        EXPECT_EQ(log.texts(),
                  std::vector<std::string>{"Execute updater: Error executing updater"});
        EXPECT_FALSE(directory.exists("updater-output.txt"));
        return;
    }
    std::string line = PREFIX + c.source_arguments + "\"" + c.version_argument + "\"";
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"Executed: [" + line + "] ... OK(0)",
                                                     "Execute updater: " + line}));
}

INSTANTIATE_TEST_SUITE_P(
    Responses, RunUpdater,
    testing::Values(
        UpdaterCase{"one_module",
                    R"({"kavor": "abc", "modules": [)" + module_entry("7", "C:\\\\A") + "]}", "", 0,
                    "-ver:abc@7|3|2|5.118|C:\\A"},
        UpdaterCase{"three_modules",
                    R"({"kavor": "k", "modules": [)" + module_entry("1", "P") + ", " +
                        module_entry("2", "Q") + ", " + module_entry("3", "R") + "]}",
                    "-x ", 0, "-ver:k@1|3|2|5.118|P@2|3|2|5.118|Q@3|3|2|5.118|R"},
        UpdaterCase{"numbers_as_written",
                    R"({"kavor": "k", "modules": [)" +
                        module_entry("-1", "P", R"({"mayor": 0, "minor": 2.0, "build": 1e2})") +
                        "]}",
                    "", 0, "-ver:k@-1|3|0|2.0.1e2|P"},
        UpdaterCase{"path_with_blanks_at_and_bar",
                    R"({"kavor": "k", "extra": 1, "modules": [)" +
                        module_entry("7", "C:\\\\Program Files\\\\X@1|2") + "]}",
                    "", 0, "-ver:k@7|3|2|5.118|C:\\Program Files\\X@1|2"},
        UpdaterCase{"no_modules", R"({"kavor": "k", "modules": []})", "", 22, ""},
        UpdaterCase{"empty_identifier",
                    R"({"kavor": "", "modules": [)" + module_entry("7", "P") + "]}", "", 22, ""},
        UpdaterCase{"no_identifier", R"({"modules": [)" + module_entry("7", "P") + "]}", "", 22,
                    ""},
        UpdaterCase{"application_as_text",
                    R"({"kavor": "k", "modules": [)" + module_entry("\"7\"", "P") + "]}", "", 22,
                    ""},
        UpdaterCase{"version_without_build",
                    R"({"kavor": "k", "modules": [)" +
                        module_entry("7", "P", R"({"mayor": 1, "minor": 2})") + "]}",
                    "", 22, ""},
        UpdaterCase{"second_module_not_an_object",
                    R"({"kavor": "k", "modules": [)" + module_entry("7", "P") + ", 5]}", "", 22,
                    ""},
        UpdaterCase{"quote_in_the_path",
                    R"({"kavor": "k", "modules": [)" + module_entry("7", "a\\\" & x") + "]}", "",
                    22, ""},
        UpdaterCase{"line_break_in_the_identifier",
                    R"({"kavor": "a\nb", "modules": [)" + module_entry("7", "P") + "]}", "", 22,
                    ""},
        UpdaterCase{"zero_byte_in_the_path",
                    R"({"kavor": "k", "modules": [)" + module_entry("7", "P\\u0000Q") + "]}", "",
                    22, ""},
        UpdaterCase{"backslash_before_the_closing_quote",
                    R"({"kavor": "k", "modules": [)" + module_entry("7", "C:\\\\Dir\\\\") + "]}",
                    "", 0, "-ver:k@7|3|2|5.118|C:\\Dir\\\\"}),
    [](const testing::TestParamInfo<UpdaterCase> &info) { return info.param.name; });

// A module path as written in the response (JSON escapes undecoded) and how it stands inside
// the quoted version argument; null: the run is refused.
struct QuotingCase {
    const char *name;
    const char *path;
    const char *on_windows;
    const char *elsewhere;
};

class VersionArgumentQuoting : public testing::TestWithParam<QuotingCase> {};

TEST_P(VersionArgumentQuoting, CarriesTheTextOrRefusesIt) {
    LogCapture log;
    const QuotingCase &c = GetParam();
    Document response(R"({"kavor": "k", "modules": [)" + module_entry("7", c.path) + "]}");
    Buffer prefix("u ");
    Buffer arguments;
    Buffer line;
    const char *expected = on_windows() ? c.on_windows : c.elsewhere;
    EXPECT_EQ(
        compose_updater_command_line(&line.text, &prefix.text, response.root, &arguments.text),
        expected ? 0 : 22);
    if (expected) {
        EXPECT_EQ(line.str(),
                  "u \"-ver:k@7|3|2|5.118|" + std::string(expected) + "\"" + std::string(1, '\0'));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, VersionArgumentQuoting,
    testing::Values(
        QuotingCase{"plain_path", "C:\\\\Apps\\\\Seven", "C:\\Apps\\Seven", "C:\\Apps\\Seven"},
        QuotingCase{"interpreter_signs", "C:\\\\Program Files\\\\X & Y ^ <z> | (a)",
                    "C:\\Program Files\\X & Y ^ <z> | (a)", "C:\\Program Files\\X & Y ^ <z> | (a)"},
        QuotingCase{"quote", "a\\\"b", nullptr, nullptr},
        QuotingCase{"tab", "a\\tb", "a\tb", "a\tb"},
        QuotingCase{"other_control_bytes", "a\\u0001\\u001b\\u007f", "a\x01\x1b\x7f",
                    "a\x01\x1b\x7f"},
        QuotingCase{"other_script", "\\u65e5\\u672c", "\xe6\x97\xa5\xe6\x9c\xac",
                    "\xe6\x97\xa5\xe6\x9c\xac"},
        QuotingCase{"carriage_return", "a\\rb", nullptr, nullptr},
        QuotingCase{"line_feed", "a\\nb", nullptr, nullptr},
        QuotingCase{"zero_byte", "a\\u0000b", nullptr, nullptr},
        QuotingCase{"percent", "%PATH%", nullptr, "%PATH%"},
        QuotingCase{"dollar", "$HOME", "$HOME", nullptr},
        QuotingCase{"backquote", "`id`", "`id`", nullptr},
        QuotingCase{"trailing_backslash", "C:\\\\Apps\\\\", "C:\\Apps\\\\", "C:\\Apps\\\\"},
        QuotingCase{"doubled_backslash_inside", "\\\\\\\\srv\\\\a\\\\\\\\b", "\\\\srv\\a\\\\b",
                    "\\\\\\\\srv\\a\\\\\\\\b"},
        QuotingCase{"backslashes_only", "\\\\\\\\\\\\", "\\\\\\\\\\\\", "\\\\\\\\\\\\"},
        QuotingCase{"backslash_before_a_blank", "a\\\\ b\\\\", "a\\ b\\\\", "a\\ b\\\\"}),
    [](const testing::TestParamInfo<QuotingCase> &info) { return info.param.name; });

// A module path with characters outside ASCII (JSON escapes undecoded), the text it stands for,
// and whether an updater with a plain main, reading its line in the ANSI code page, would get
// a character the argument rules or the interpreter act on, so that the run is refused.
struct AnsiCase {
    const char *name;
    const char *path;
    const char *text;
    bool refused_in_1252;
    bool refused_in_932;
};

class AnsiLookalikes : public testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiLookalikes, AreRefusedWhereTheCodePageTurnsThemIntoSigns) {
    LogCapture log;
    const AnsiCase &c = GetParam();
    bool refused = false;
    if (on_windows()) {
        unsigned code_page = ansi_code_page();
        if (code_page != 1252 && code_page != 932) GTEST_SKIP() << "code page " << code_page;
        refused = code_page == 1252 ? c.refused_in_1252 : c.refused_in_932;
    }
    Document response(R"({"kavor": "k", "modules": [)" + module_entry("7", c.path) + "]}");
    Buffer prefix("u ");
    Buffer arguments;
    Buffer line;
    EXPECT_EQ(
        compose_updater_command_line(&line.text, &prefix.text, response.root, &arguments.text),
        refused ? 22 : 0);
    if (!refused) {
        EXPECT_EQ(line.str(),
                  "u \"-ver:k@7|3|2|5.118|" + std::string(c.text) + "\"" + std::string(1, '\0'));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AnsiLookalikes,
    testing::Values(
        AnsiCase{"fullwidth_quote", "a\\uff02 -x \\uff02b",
                 "a\xef\xbc\x82 -x \xef\xbc\x82"
                 "b",
                 true, false},
        AnsiCase{"modifier_double_prime", "a\\u02bab",
                 "a\xca\xba"
                 "b",
                 true, false},
        AnsiCase{"fullwidth_backslash", "a\\uff3c", "a\xef\xbc\xbc", true, false},
        AnsiCase{"fullwidth_percent", "\\uff05PATH\\uff05", "\xef\xbc\x85PATH\xef\xbc\x85", true,
                 false},
        AnsiCase{"fullwidth_exclamation", "\\uff01OS\\uff01", "\xef\xbc\x81OS\xef\xbc\x81", true,
                 false},
        AnsiCase{"yen", "C:\\u00a5Apps",
                 "C:\xc2\xa5"
                 "Apps",
                 false, true},
        // Held by the code page, or turned into a letter or ?: carried.
        AnsiCase{"accent", "caf\\u00e9", "caf\xc3\xa9", false, false},
        AnsiCase{"curly_quote", "\\u201cx\\u201d", "\xe2\x80\x9cx\xe2\x80\x9d", false, false},
        AnsiCase{"other_script", "\\u65e5\\u672c", "\xe6\x97\xa5\xe6\x9c\xac", false, false},
        AnsiCase{"backslash_as_second_byte", "\\u8868", "\xe8\xa1\xa8", false, false}),
    [](const testing::TestParamInfo<AnsiCase> &info) { return info.param.name; });

// The Windows build's tests run once in each code page they expect; a run that asks for one
// checks that it got it, so that a run meant for 932 cannot pass in 1252 unseen.
TEST(AnsiCodePage, IsTheOneTheRunAsksFor) {
    const char *asked = std::getenv("HUB_TEST_CODE_PAGE");
    if (!asked) GTEST_SKIP() << "no code page asked for";
    EXPECT_EQ(ansi_code_page(), unsigned(std::strtoul(asked, nullptr, 10)));
}

TEST(VersionArgumentQuoting, ABackslashBeforeTheNextFieldIsNotBeforeTheClosingQuote) {
    LogCapture log;
    Document response(R"({"kavor": "id\\", "modules": [)" + module_entry("7", "P") + "]}");
    Buffer prefix("u ");
    Buffer arguments;
    Buffer line;
    EXPECT_EQ(
        compose_updater_command_line(&line.text, &prefix.text, response.root, &arguments.text), 0);
    EXPECT_EQ(line.str(), "u \"-ver:id\\@7|3|2|5.118|P\"" + std::string(1, '\0'));
}

TEST(RunUpdaterMemory, EveryFailedAllocationIsReportedAndNothingLeaks) {
    TemporaryDirectory directory;
    LogCapture log;
    Document response(R"({"kavor": "abc", "modules": [)" + module_entry("7", "C:\\\\A") + ", " +
                      module_entry("8", "C:\\\\B") + "]}");
    Buffer prefix(PREFIX);
    Buffer arguments("-x ");
    unsigned long failing_runs = sweep_allocation_failures([&](unsigned long nth) {
        log.clear();
        int status = run_updater(&prefix.text, response.root, &arguments.text);
        if (nth == 0 || status == 0) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(log.lines().back().text.rfind("Execute updater: " + PREFIX, 0), 0u);
        } else {
            EXPECT_EQ(status, 12);
            EXPECT_TRUE(log.contains("Execute updater: Error executing updater"));
        }
    });
    EXPECT_GT(failing_runs, 0u);
}

TEST(RegisterHubModule, RegistersModuleTenOfApplicationTwoInTheOwnDirectory) {
    TemporaryDirectory directory;
    LogCapture log;
    Document response(R"({"kavor": "abc", "modules": []})");
    Buffer prefix(PREFIX);
    char own_directory[] = "C:\\Apps\\Hub";
    EXPECT_EQ(register_hub_module(&prefix.text, response.root, own_directory), 0);
    EXPECT_STREQ(own_directory, "C:/Apps/Hub");
    std::string line = PREFIX + "\"-ver:abc@2|10|1|4.0|C:/Apps/Hub/\"";
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{
                  "Executed: [" + line + "] ... OK(0)", "Execute updater: " + line,
                  "Update quorlix: {\"kavor\": \"abc\", \"modules\": [{\"application\": 2, "
                  "\"module\": 10, \"version\": {\"mayor\": 1, \"minor\": 4, \"build\": 0}, "
                  "\"path\": \"C:/Apps/Hub/\"}]}"}));
}

TEST(RegisterHubModule, ADriveRootRegistersTheDriveWithASlash) {
    TemporaryDirectory directory;
    LogCapture log;
    Document response(R"({"kavor": "abc"})");
    Buffer prefix(PREFIX);
    char own_directory[] = "C:";
    EXPECT_EQ(register_hub_module(&prefix.text, response.root, own_directory), 0);
    EXPECT_TRUE(log.contains("Execute updater: " + PREFIX + "\"-ver:abc@2|10|1|4.0|C:/\""));
}

TEST(RegisterHubModule, WithoutAnIdentifierNothingRunsAndTheDirectoryStays) {
    LogCapture log;
    Document response(R"({"kavor": ""})");
    Buffer prefix(PREFIX);
    char own_directory[] = "C:\\Apps";
    EXPECT_EQ(register_hub_module(&prefix.text, response.root, own_directory), 22);
    EXPECT_STREQ(own_directory, "C:\\Apps");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Update quorlix: Error updating quorlix"});
}

// Whatever the identifier holds, the registration holds it as one text and the hub's own module
// alone, and reaches the updater as it is, or not at all.
struct ForgedIdentifierCase {
    const char *kavor;            // as written in the response
    const char *version_argument; // after "-ver:"; null: not run
};

TEST(RegisterHubModule, TheIdentifierStaysOneTextOfTheRegistration) {
    const ForgedIdentifierCase cases[] = {
        {R"(x\", \"a\": 1, \"modules\": [{\"application\": 2, \"module\": 10, \"version\": )"
         R"({\"mayor\": 9, \"minor\": 9, \"build\": 0}, \"path\": \"/attacker/dir/\"}], \"zz\": \")",
         nullptr},
        {R"(a\u0000b)", nullptr},
        {R"(a\nb)", nullptr},
        {R"(a\\u0041)", R"(a\u0041@2|10|1|4.0|C:/Apps/)"},
    };
    for (const ForgedIdentifierCase &c : cases) {
        TemporaryDirectory directory;
        LogCapture log;
        Document response(std::string(R"({"kavor": ")") + c.kavor + "\"}");
        ASSERT_NE(response.root, nullptr) << c.kavor;
        Buffer prefix(PREFIX);
        char own_directory[] = "C:\\Apps";
        int status = register_hub_module(&prefix.text, response.root, own_directory);
        if (!c.version_argument) {
            EXPECT_EQ(status, 22) << c.kavor;
            EXPECT_EQ(log.texts(),
                      (std::vector<std::string>{"Execute updater: Error executing updater",
                                                "Update quorlix: Error updating quorlix"}))
                << c.kavor;
            continue;
        }
        EXPECT_EQ(status, 0) << c.kavor;
        EXPECT_TRUE(
            log.contains("Execute updater: " + PREFIX + "\"-ver:" + c.version_argument + "\""))
            << c.kavor << testing::PrintToString(log.texts());
    }
}

TEST(RegisterHubModule, ALongIdentifierIsRegisteredWhole) {
    TemporaryDirectory directory;
    LogCapture log;
    std::string identifier(5000, 'k');
    Document response("{\"kavor\": \"" + identifier + "\"}");
    Buffer prefix(PREFIX);
    char own_directory[] = "C:\\Apps";
    EXPECT_EQ(register_hub_module(&prefix.text, response.root, own_directory), 0);
    EXPECT_TRUE(log.contains("Execute updater: " + PREFIX + "\"-ver:" + identifier +
                             "@2|10|1|4.0|C:/Apps/\""));
}

struct ExitWordCase {
    int code;
    const char *word;
};

class RunCommandExit : public testing::TestWithParam<ExitWordCase> {};

TEST_P(RunCommandExit, LogsTheExitStatusWithItsWord) {
    LogCapture log;
    std::string command = "exit " + std::to_string(GetParam().code);
    int exit_status = -99;
    EXPECT_EQ(run_command(command.c_str(), &exit_status), 0);
    EXPECT_EQ(exit_status, GetParam().code);
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"Executed: [" + command + "] ... " + GetParam().word + "(" +
                                       std::to_string(GetParam().code) + ")"});
}

INSTANTIATE_TEST_SUITE_P(Codes, RunCommandExit,
                         testing::Values(ExitWordCase{0, "OK"}, ExitWordCase{1, "NO UPDATE"},
                                         ExitWordCase{2, "HAVE UPDATE"}, ExitWordCase{5, "ERROR"},
                                         ExitWordCase{255, "ERROR"}));

TEST(RunCommand, ACommandKilledByASignalIsAnError) {
    if (on_windows()) GTEST_SKIP() << "POSIX signals";
    LogCapture log;
    int exit_status = 0;
    EXPECT_EQ(run_command("kill -9 $$", &exit_status), 0);
    EXPECT_EQ(exit_status, 128 + 9);
    EXPECT_TRUE(log.contains("Executed: [kill -9 $$] ... ERROR(137)"));
}

// Windows refuses a line longer than cmd.exe takes; the POSIX layer refuses when it cannot copy
// the line for the shell.
TEST(RunCommand, ALineThePlatformRefusesIsAFailureThatLeavesTheStatusUntouched) {
    TemporaryDirectory directory;
    LogCapture log;
    std::string command = "echo x>ran.txt";
    if (on_windows()) command += " & rem " + std::string(9000, 'r');
    int exit_status = -99;
    {
        FailingAllocation failure(on_windows() ? 0 : 2);
        EXPECT_EQ(run_command(command.c_str(), &exit_status), on_windows() ? E2BIG : ENOMEM);
    }
    EXPECT_EQ(exit_status, -99);
    EXPECT_FALSE(directory.exists("ran.txt"));
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Executed: [" + command + "] ... FAIL(-1)"});
}

TEST(RunCommand, AFileInTheCurrentDirectoryThatCannotRunDoesNotShadowACommand) {
    TemporaryDirectory directory;
    LogCapture log;
    directory.write("echo", "not a program");
    int exit_status = -99;
    EXPECT_EQ(run_command("echo x>ran.txt", &exit_status), 0);
    EXPECT_EQ(exit_status, 0);
    EXPECT_TRUE(directory.exists("ran.txt"));
}

TEST(RunCommand, WithoutMemoryNothingRunsAndTheStatusStays) {
    TemporaryDirectory directory;
    LogCapture log;
    int exit_status = -99;
    {
        FailingAllocation failure(1);
        EXPECT_EQ(run_command("echo x>ran.txt", &exit_status), 12);
    }
    EXPECT_EQ(exit_status, -99);
    EXPECT_FALSE(directory.exists("ran.txt"));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text.rfind("No memory [", 0), 0u);
}

} // namespace

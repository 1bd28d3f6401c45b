// Files as Windows tools write them, and names and texts in any script: what the file says
// reaches the updater as the same characters, whatever encoding the file used.
#include "hub_sandbox.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The UTF-16 form of UTF-8 text, with a surrogate pair for a character beyond U+FFFF.
std::string utf16(const std::string &text, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    auto put = [&](unsigned unit) {
        char high = char(unit >> 8), low = char(unit & 0xFF);
        bytes += big_endian ? std::string{high, low} : std::string{low, high};
    };
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t count = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        unsigned code_point = count == 1 ? lead : lead & (0x7F >> count);
        for (size_t k = 1; k < count; ++k)
            code_point = code_point << 6 | (text[i + k] & 0x3F);
        if (code_point > 0xFFFF) {
            put(0xD800 + ((code_point - 0x10000) >> 10));
            put(0xDC00 + ((code_point - 0x10000) & 0x3FF));
        } else {
            put(code_point);
        }
        i += count;
    }
    return bytes;
}

// A module path with Latin-1, Polish and CJK letters, Ě, whose UTF-16 holds the byte 0x1A that
// ends a file read in Windows text mode, and U+20000 and an emoji, which take surrogate pairs.
const std::string PATH =
    "C:\\Programme\\Société Générale\\Zażółć\\更新\\Ěx\\\xF0\xA0\x80\x80 \xF0\x9F\x9A\x80";

std::string response_text(const std::string &path) {
    return "{\"kavor\": \"enc\",\r\n \"modules\": [{\"application\": 1, \"module\": 2, "
           "\"version\": "
           "{\"mayor\": 3, \"minor\": 4, \"build\": 5}, \"path\": \"" +
           json_escaped(path) + "\"}]}\r\n";
}

struct EncodingCase {
    const char *name;
    std::string answer;     // the response file's bytes
    const char *on_windows; // the path the updater receives; null: the source is skipped
    const char *elsewhere;
};

class FileEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(FileEncoding, ReachesTheUpdaterAsTheSameCharactersOrSkipsOnlyItsSource) {
    const EncodingCase &c = GetParam();
    HubSandbox sandbox;
    // The configuration as Notepad before 2019 saved it: UTF-8 with a byte order mark, CR LF.
    std::string configuration = example_configuration({query_source("enc"), query_source("next")});
    sandbox.write("hub.json", "\xEF\xBB\xBF" + configuration);
    sandbox.write("enc-answer.json", c.answer);
    sandbox.write("next-answer.json", one_module_response("next", 7, 3, "C:\\\\Next"));
    HubRun run = run_cycle(sandbox);
    EXPECT_EQ(run.exit_code, 0) << shortened_log(run);
    const char *expected = HubSandbox::windows() ? c.on_windows : c.elsewhere;
    Runs runs = {with_record({registration_argument(sandbox, expected ? "enc" : "next")})};
    if (expected) runs.push_back(with_record({std::string("-ver:enc@1|2|3|4.5|") + expected}));
    runs.push_back(with_record({"-ver:next@7|3|1|2.3|C:\\Next"}));
    EXPECT_EQ(recorded_runs(sandbox), runs) << shortened_log(run);
    EXPECT_EQ(run.has("Read: [enc-response.json] ... FAIL(22)"), !expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileEncoding,
    testing::Values(
        EncodingCase{"utf8", response_text(PATH), PATH.c_str(), PATH.c_str()},
        EncodingCase{"utf8_with_byte_order_mark", "\xEF\xBB\xBF" + response_text(PATH),
                     PATH.c_str(), PATH.c_str()},
        // PowerShell 5.1's Out-File.
        EncodingCase{"utf16le_with_byte_order_mark", utf16(response_text(PATH), false),
                     PATH.c_str(), PATH.c_str()},
        EncodingCase{"utf16be_with_byte_order_mark", utf16(response_text(PATH), true), PATH.c_str(),
                     PATH.c_str()},
        EncodingCase{"utf16_cut_in_a_character", utf16(response_text(PATH), false) + "}", nullptr,
                     nullptr},
        EncodingCase{"utf16_unpaired_surrogate",
                     utf16(response_text("C:\\X"), false).insert(12, "\x00\xD8", 2), nullptr,
                     nullptr},
        EncodingCase{"utf16_lone_low_surrogate",
                     utf16(response_text("C:\\X"), false).insert(12, "\x00\xDC", 2), nullptr,
                     nullptr},
        // cmd's echo and PowerShell 5.1's Set-Content write the ANSI code page (1252 here).
        EncodingCase{"ansi_code_page", response_text("C:\\Soci\xE9t\xE9 G\xE9n\xE9rale"),
                     "C:\\Société Générale", "C:\\Soci\xE9t\xE9 G\xE9n\xE9rale"}),
    [](const testing::TestParamInfo<EncodingCase> &info) { return info.param.name; });

struct NameCase {
    const char *name;
    const char *folder;        // the hub's folder, with the example programs beside it
    const char *configuration; // the configuration's file name
    bool by_relaunch;          // else with --start
};

class NamesInAnyScript : public testing::TestWithParam<NameCase> {};

TEST_P(NamesInAnyScript, FindEveryFileAndReachTheUpdater) {
    const NameCase &c = GetParam();
    HubSandbox sandbox;
    std::string folder = c.folder;
    sandbox.make_directory(folder);
    for (const char *program : {"example-query.exe", "example-updater.exe"}) {
        sandbox.write(folder + "/" + program, sandbox.read(program));
        make_executable(sandbox.path() + "/" + folder + "/" + program);
    }
    std::string source = "{\"application\": \"example-query.exe odpowiedź-ü.json 応答-ż.json 2\", "
                         "\"response\": \"応答-ż.json\"}";
    sandbox.write(folder + "/" + c.configuration, example_configuration({source}));
    sandbox.write(folder + "/odpowiedź-ü.json", response_text(PATH));
    Lines arguments = {"-config", c.configuration, "-loglevel", "7"};
    if (!c.by_relaunch) arguments.insert(arguments.begin(), "--start");
    HubRun run = sandbox.run_in(folder, arguments);
    EXPECT_EQ(run.exit_code, 0);
    std::string record = sandbox.wait_for_updater_runs(folder + "/" + UPDATER_RECORD, 2);
    std::string own_directory = sandbox.hub_path(folder);
    for (char &byte : own_directory)
        if (byte == '\\') byte = '/';
    EXPECT_EQ(updater_runs(record),
              (Runs{with_record({"-ver:enc@2|10|1|4.0|" + own_directory + "/"}),
                    with_record({"-ver:enc@1|2|3|4.5|" + PATH})}))
        << shortened_log(run);
    EXPECT_FALSE(sandbox.exists(folder + "/応答-ż.json"));
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, NamesInAnyScript,
    testing::Values(NameCase{"latin1_by_relaunch", "Hub Büro", "Konfiguration-für.json", true},
                    NameCase{"polish_with_start", "Zażółć gęślą", "Konfig-Zażółć.json", false},
                    NameCase{"polish_by_relaunch", "Zażółć gęślą", "Konfig-Zażółć.json", true},
                    NameCase{"cjk_with_start", "更新 ハブ", "設定.json", false},
                    NameCase{"cjk_by_relaunch", "更新 ハブ", "設定.json", true}),
    [](const testing::TestParamInfo<NameCase> &info) { return info.param.name; });

} // namespace

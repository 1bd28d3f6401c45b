#include "allocation_sweep.h"
#include "hub/cycle_outcome.h"
#include "hub/cycle_report.h"
#include "hub/platform.h"
#include "hub/update_cycle.h"
#include "log_capture.h"
#include "support/memory.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

struct ReadCase {
    const char *name;
    const char *content; // null: no file
    int status;
};

class ReadJsonFile : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadJsonFile, ReadsAndParsesOrSaysWhy) {
    TemporaryDirectory directory;
    LogCapture log;
    const ReadCase &c = GetParam();
    if (c.content) directory.write("file.json", c.content);
    JsonValue *untouched = reinterpret_cast<JsonValue *>(&directory);
    JsonValue *document = untouched;
    EXPECT_EQ(read_json_file("file.json", &document), c.status);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Read: [file.json] ... " +
                                                    std::string(c.status ? "FAIL" : "OK") + "(" +
                                                    std::to_string(c.status) + ")"});
    EXPECT_EQ(log.lines()[0].level, 6);
    if (c.status == 0) {
        ASSERT_NE(document, nullptr);
        json_free(&document);
    } else if (c.status == 22) {
        EXPECT_EQ(document, nullptr);
    } else {
        EXPECT_EQ(document, untouched);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadJsonFile,
    testing::Values(ReadCase{"missing", nullptr, 2}, ReadCase{"empty", "", 22},
                    ReadCase{"one_character", "[", 22}, ReadCase{"top_level_array", "[1]", 0},
                    ReadCase{"top_level_number", "42", 22},
                    ReadCase{"syntax_error", "{\"a\" 1}", 22},
                    ReadCase{"line_ends_and_trailing_text", "{\"a\":\r\n 1}\r\ntrailing", 22},
                    // An old editor's end-of-file mark as the very last byte, and only there.
                    ReadCase{"white_space_and_an_end_of_file_mark", "{\"a\": 1}\r\n\t \x1A", 0},
                    ReadCase{"two_end_of_file_marks", "{\"a\": 1}\x1A\x1A", 22},
                    ReadCase{"end_of_file_mark_before_white_space", "{\"a\": 1}\x1A\r\n", 22},
                    ReadCase{"zero_byte_inside", "{\"a\": \"x\0y\"}", 22}),
    [](const testing::TestParamInfo<ReadCase> &info) { return info.param.name; });

TEST(ReadJsonFileOf, AFileLongerThanOneReadIsReadWhole) {
    TemporaryDirectory directory;
    LogCapture log;
    std::string text = "[";
    for (int i = 0; i < 3000; ++i)
        text += std::to_string(i) + ", ";
    text += "\"end\"]";
    ASSERT_GT(text.size(), 3 * 4096u);
    directory.write("big.json", text);
    JsonValue *document = nullptr;
    ASSERT_EQ(read_json_file("big.json", &document), 0);
    EXPECT_EQ(json_length(document), 3001u);
    EXPECT_STREQ(json_text(json_array_item(document, 3000), nullptr), "end");
    json_free(&document);
}

TEST(ReadJsonFileOf, EveryFailedAllocationIsReportedAndNothingLeaks) {
    TemporaryDirectory directory;
    LogCapture log;
    std::string text = "{\"list\": [";
    for (int i = 0; i < 40; ++i)
        text += "\"item " + std::to_string(i) + "\", ";
    text += "{}], \"name\": \"x\"}";
    directory.write("file.json", text + std::string(5000, ' '));
    sweep_allocation_failures([&](unsigned long nth) {
        JsonValue *document = nullptr;
        int status = read_json_file("file.json", &document);
        if (nth == 0) {
            EXPECT_EQ(status, 0);
        } else {
            EXPECT_TRUE(status == 12 || status == 22) << status;
            EXPECT_EQ(document, nullptr);
        }
        json_free(&document);
    });
}

// A query command that copies answer.json to response.json in either command interpreter.
std::string copy_command() {
    return platform_separator == '\\' ? "copy answer.json response.json >NUL"
                                      : "cp answer.json response.json";
}

std::string cycle_configuration(bool with_updater) {
    std::string source = "{\"application\": \"" + copy_command() +
                         "\", \"response\": \"response.json\", \"updater_params\": [\"-x\", 1]}";
    // The updater is a plain file: its runs fail harmlessly, with the error sent to a file.
    std::string updater = "\"updater\": {\"application\": \"updater.exe\", \"parameters\": "
                          "[\"2>updater-errors.txt\", true]}, ";
    std::string configuration = "{";
    if (with_updater) configuration += updater;
    configuration += "\"sources\": [" + source + ", " + source + "]}";
    return configuration;
}

// (status mode, outcomes recorded and composed into a report)
class UpdateCycleMemory : public testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(UpdateCycleMemory, EveryFailedAllocationEndsCleanly) {
    TemporaryDirectory directory;
    LogCapture log;
    auto [status_mode, recorded] = GetParam();
    directory.write("hub.json", cycle_configuration(!status_mode));
    directory.write("updater.exe", "not a program");
    directory.write("answer.json",
                    "{\"kavor\": \"k\", \"modules\": [{\"application\": 1, \"module\": 2, "
                    "\"version\": {\"mayor\": 1, \"minor\": 0, \"build\": 0}, \"path\": \"P\"}]}");
    unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
        char own_directory[] = "C:\\Hub";
        CycleOutcome outcome;
        if (recorded) cycle_outcome_init(&outcome, status_mode, "hub.json");
        int result =
            run_update_cycle("hub.json", status_mode, own_directory, recorded ? &outcome : nullptr);
        if (recorded) {
            // Two sources whose updater runs fail (the updater is no program), and the
            // registration, which fails likewise.
            if (nth == 0) {
                EXPECT_EQ(outcome.source_count, 2u);
                EXPECT_EQ(outcome.failed_sources, status_mode ? 0u : 3u);
            }
            TextBuffer report;
            text_buffer_init(&report);
            int composed = compose_cycle_report(&report, &outcome, false);
            EXPECT_TRUE(composed == 0 || composed == 12) << composed;
            mem_free(report.data);
            cycle_outcome_free(&outcome);
        }
        if (nth == 0) {
            EXPECT_EQ(result, 0);
        } else {
            // -2: the platform could not open the updater to copy it without memory.
            EXPECT_TRUE(result == 0 || result == 12 || result == 22 || result == -2) << result;
        }
    });
    EXPECT_GT(runs, 10u);
}

INSTANTIATE_TEST_SUITE_P(Modes, UpdateCycleMemory,
                         testing::Combine(testing::Values(true, false),
                                          testing::Values(false, true)),
                         [](const testing::TestParamInfo<std::tuple<bool, bool>> &info) {
                             return std::string(std::get<0>(info.param) ? "status_mode"
                                                                        : "update_mode") +
                                    (std::get<1>(info.param) ? "_recorded" : "");
                         });

} // namespace

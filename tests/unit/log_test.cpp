#include "log_capture.h"
#include "support/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Restores the process-wide log state after a test that sets it up itself.
class LogState : public testing::Test {
  protected:
    void SetUp() override {
        threshold_ = log_threshold;
        sink_ = log_sink;
        context_ = log_sink_context;
    }
    void TearDown() override { log_setup(threshold_, sink_, context_); }

  private:
    int threshold_ = 0;
    LogSink sink_ = nullptr;
    void *context_ = nullptr;
};

std::string read_all(FILE *file) {
    std::string text;
    rewind(file);
    int c;
    while ((c = fgetc(file)) != EOF)
        text.push_back(char(c));
    return text;
}

using LogFilter = LogState;

TEST_F(LogFilter, WritesLevelsUpToTheThresholdOnly) {
    LogCapture log(3);
    log_message(0, "zero");
    log_message(3, "three");
    log_message(4, "four");
    log_message(7, "seven");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"zero", "three"}));
}

TEST_F(LogFilter, DropsMessagesWithoutASink) {
    log_setup(7, nullptr, nullptr);
    log_message(0, "nobody hears this"); // must simply return
    EXPECT_EQ(log_depth, 0);
}

int nesting_sink(void *context, int, const char *format, va_list arguments) {
    auto *texts = static_cast<std::vector<std::string> *>(context);
    char text[64];
    vsnprintf(text, sizeof text, format, arguments);
    texts->push_back(text);
    log_message(0, "from inside the sink");
    return 0;
}

TEST_F(LogFilter, AMessageFromInsideTheSinkIsDropped) {
    std::vector<std::string> texts;
    log_setup(7, nesting_sink, &texts);
    log_message(0, "outer %d", 1);
    log_message(0, "next %s", "top-level");
    EXPECT_EQ(texts, (std::vector<std::string>{"outer 1", "next top-level"}));
    EXPECT_EQ(log_depth, 0);
}

struct PrefixCase {
    long date;
    long time;
    int level;
    const char *expected;
};

class LogPrefix : public testing::TestWithParam<PrefixCase> {};

TEST_P(LogPrefix, KeepsLeadingZeros) {
    char buffer[LOG_PREFIX_SIZE];
    const PrefixCase &c = GetParam();
    EXPECT_STREQ(log_compose_prefix(buffer, c.date, c.time, c.level), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogPrefix,
    testing::Values(PrefixCase{20261207, 30509, 0, "20261207 030509 0 "},
                    PrefixCase{20261207, 509, 7, "20261207 000509 7 "},
                    PrefixCase{0, 0, 6, "00000000 000000 6 "},
                    PrefixCase{20261207, 235959, -2147483647 - 1, "20261207 235959 -2147483648 "},
                    PrefixCase{20261207, 120000, 12345, "20261207 120000 12345 "}));

TEST(LogClock, GivesADateAndATimeOfTheRightShape) {
    int32_t date = 0;
    int32_t time = 0;
    log_read_clock(&date, &time);
    EXPECT_GE(date, 19700101);
    EXPECT_LE(date % 100, 31);
    EXPECT_LE(date / 100 % 100, 12);
    EXPECT_GE(time, 0);
    EXPECT_LE(time, 235960);
}

long local_date_now() {
    time_t now = ::time(nullptr);
    char text[16] = "";
    strftime(text, sizeof text, "%Y%m%d", localtime(&now));
    return atol(text);
}

TEST(LogClock, GivesTheLocalDate) {
    long before = local_date_now();
    int32_t date = 0;
    int32_t time = 0;
    log_read_clock(&date, &time);
    long after = local_date_now();
    // Midnight may pass between the readings.
    EXPECT_TRUE(date == before || date == after) << date << " " << before << " " << after;
}

using DefaultSink = LogState;

TEST_F(DefaultSink, WritesThePrefixTheMessageAndANewline) {
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    log_setup(7, log_default_sink, file);
    log_message(6, "Read: [%s] ... %s(%d)", "a%d.json", "OK", 0);
    std::string text = read_all(file);
    fclose(file);
    ASSERT_EQ(text.size(), 18 + strlen("Read: [a%d.json] ... OK(0)") + 1);
    EXPECT_EQ(text.substr(15, 3), " 6 ");
    EXPECT_EQ(text.substr(18), "Read: [a%d.json] ... OK(0)\n");
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14})
        EXPECT_TRUE(text[i] >= '0' && text[i] <= '9') << text;
}

void record_copy(void *context, const char *line, size_t length) {
    static_cast<std::vector<std::string> *>(context)->emplace_back(line, length);
}

// The line copy (a log file) gets every line as the stream got it, whole, in one call: short,
// exactly filling the line buffer, one byte more, and far longer.
TEST_F(DefaultSink, HandsTheLineCopyEachLineWholeInOneCall) {
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    std::vector<std::string> copies;
    log_setup(7, log_default_sink, file);
    log_line_copy = record_copy;
    log_line_copy_context = &copies;
    std::vector<std::string> texts = {"Exit code: 0", std::string(LOG_LINE_BUFFER_SIZE - 19, 'z'),
                                      std::string(LOG_LINE_BUFFER_SIZE - 18, 'w'),
                                      std::string(3 * LOG_LINE_BUFFER_SIZE, 'x') + "y"};
    for (const std::string &text : texts)
        log_message(7, "%s", text.c_str());
    log_line_copy = nullptr;
    log_line_copy_context = nullptr;
    std::string written = read_all(file);
    fclose(file);
    ASSERT_EQ(copies.size(), texts.size());
    std::string copied;
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(copies[i].substr(15), " 7 " + texts[i] + "\n") << i;
        copied += copies[i];
    }
    EXPECT_EQ(copied, written);
}

struct EscapeCase {
    std::string message;
    std::string written;
};

// Control bytes of a message are written as \xhh wherever they stand, also in a line too long
// for one write, and so are C1 controls in UTF-8; TAB, DEL's neighbours and other bytes from
// 0x80 are written as they are.
TEST_F(DefaultSink, WritesControlBytesEscaped) {
    std::string long_tail(2 * LOG_LINE_BUFFER_SIZE, 'q');
    const EscapeCase cases[] = {
        {"Exit code: 3\rExit code: 0", "Exit code: 3\\x0dExit code: 0"},
        {"a\nb\x1b[2K\bc", "a\\x0ab\\x1b[2K\\x08c"},
        {"tab\there ~\x7f\x80\xc3\xa9", "tab\there ~\\x7f\x80\xc3\xa9"},
        // C1 controls in UTF-8 (U+009B is CSI); their neighbours U+00A0 and a lone C2 stay.
        {"\xc2\x9b"
         "2J\xc2\x80\xc2\x9f\xc2\xa0\xc2\x7e\xc2",
         "\\xc2\\x9b"
         "2J\\xc2\\x80\\xc2\\x9f\xc2\xa0\xc2~\xc2"},
        {"\x01" + long_tail + "\x1f", "\\x01" + long_tail + "\\x1f"},
    };
    for (const EscapeCase &c : cases) {
        FILE *file = tmpfile();
        ASSERT_NE(file, nullptr);
        log_setup(7, log_default_sink, file);
        log_message(7, "%s", c.message.c_str());
        std::string text = read_all(file);
        fclose(file);
        EXPECT_EQ(text.substr(18), c.written + "\n") << c.written.substr(0, 40);
    }
}

// fopencookie is glibc's; elsewhere the stream's calls cannot be counted.
#if defined(__GLIBC__)
ssize_t record_write(void *cookie, const char *bytes, size_t size) {
    static_cast<std::vector<std::string> *>(cookie)->emplace_back(bytes, size);
    return ssize_t(size);
}

// An unbuffered stream that records what each write of the C library hands it.
FILE *recording_stream(std::vector<std::string> *writes) {
    cookie_io_functions_t functions = {nullptr, record_write, nullptr, nullptr};
    FILE *stream = fopencookie(writes, "w", functions);
    if (stream) setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

TEST_F(DefaultSink, WritesALineInOneCallAndALongerOneWhole) {
    std::vector<std::string> writes;
    FILE *stream = recording_stream(&writes);
    ASSERT_NE(stream, nullptr);
    log_setup(7, log_default_sink, stream);
    log_message(7, "Executed: [%s] ... %s(%d)", "echo x", "OK", 0);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].substr(15), " 7 Executed: [echo x] ... OK(0)\n");

    writes.clear();
    std::string text(3 * LOG_LINE_BUFFER_SIZE, 'x');
    text[LOG_LINE_BUFFER_SIZE] = 'y';
    log_message(7, "%s", text.c_str());
    std::string written;
    for (const std::string &piece : writes)
        written += piece;
    EXPECT_EQ(written.substr(15), " 7 " + text + "\n");

    writes.clear();
    std::string longest(LOG_LINE_BUFFER_SIZE - 19, 'z'); // with the prefix and line end: full
    log_message(7, "%s", longest.c_str());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), size_t(LOG_LINE_BUFFER_SIZE));

    // One byte more: the line fills the buffer, its line end does not fit.
    writes.clear();
    std::string filling(LOG_LINE_BUFFER_SIZE - 18, 'w');
    filling.back() = 'v';
    log_message(7, "%s", filling.c_str());
    written.clear();
    for (const std::string &piece : writes)
        written += piece;
    EXPECT_EQ(written.substr(15), " 7 " + filling + "\n");
    fclose(stream);
}
#endif

} // namespace

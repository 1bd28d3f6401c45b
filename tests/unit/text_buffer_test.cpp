#include "allocation_sweep.h"
#include "log_capture.h"
#include "support/memory.h"
#include "support/text_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Buffer {
    TextBuffer text;
    Buffer() { text_buffer_init(&text); }
    ~Buffer() { mem_free(text.data); }
};

bool tail_is_zero(const TextBuffer &buffer) {
    for (uint32_t i = buffer.length; i < buffer.capacity; ++i)
        if (buffer.data[i] != '\0') return false;
    return true;
}

TEST(TextBuffer, StartsEmptyWithoutABlock) {
    Buffer buffer;
    EXPECT_EQ(buffer.text.data, nullptr);
    EXPECT_EQ(buffer.text.capacity, 0u);
    EXPECT_EQ(buffer.text.length, 0u);
}

TEST(TextBuffer, FirstAppendOfNothingAllocatesAnEmptyText) {
    Buffer buffer;
    ASSERT_EQ(text_buffer_append(&buffer.text, "", 0), 0);
    ASSERT_NE(buffer.text.data, nullptr);
    EXPECT_EQ(buffer.text.capacity, 256u);
    EXPECT_EQ(buffer.text.length, 0u);
    EXPECT_STREQ(buffer.text.data, "");
}

TEST(TextBuffer, RawAppendOfNothingAllocatesNothing) {
    Buffer buffer;
    ASSERT_EQ(text_buffer_append_raw(&buffer.text, nullptr, 0), 0);
    EXPECT_EQ(buffer.text.data, nullptr);
    EXPECT_EQ(buffer.text.capacity, 0u);
}

struct GrowthCase {
    uint32_t bytes;
    uint32_t capacity;
};

class TextBufferGrowth : public testing::TestWithParam<GrowthCase> {};

TEST_P(TextBufferGrowth, GrowsToTheNextMultipleOf256AboveTheLength) {
    std::string bytes(GetParam().bytes, 'x');
    Buffer plain;
    ASSERT_EQ(text_buffer_append(&plain.text, bytes.data(), uint32_t(bytes.size())), 0);
    EXPECT_EQ(plain.text.capacity, GetParam().capacity);
    EXPECT_EQ(plain.text.length, GetParam().bytes);
    EXPECT_TRUE(tail_is_zero(plain.text));
    Buffer raw;
    ASSERT_EQ(text_buffer_append_raw(&raw.text, bytes.data(), uint32_t(bytes.size())), 0);
    EXPECT_EQ(raw.text.capacity, GetParam().capacity);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TextBufferGrowth,
                         testing::Values(GrowthCase{1, 256}, GrowthCase{255, 256},
                                         GrowthCase{256, 512}, GrowthCase{300, 512},
                                         GrowthCase{4095, 4096}));

TEST(TextBuffer, AppendKeepsRoomForTheTerminatorRawFillsExactly) {
    std::string first(250, 'a');
    Buffer plain;
    ASSERT_EQ(text_buffer_append(&plain.text, first.data(), 250), 0);
    ASSERT_EQ(text_buffer_append(&plain.text, "12345", 5), 0);
    EXPECT_EQ(plain.text.capacity, 256u);
    ASSERT_EQ(text_buffer_append(&plain.text, "6", 1), 0);
    EXPECT_EQ(plain.text.capacity, 512u);

    Buffer raw;
    ASSERT_EQ(text_buffer_append_raw(&raw.text, first.data(), 250), 0);
    ASSERT_EQ(text_buffer_append_raw(&raw.text, "123456", 6), 0);
    EXPECT_EQ(raw.text.capacity, 256u);
    EXPECT_EQ(raw.text.length, 256u);
    ASSERT_EQ(text_buffer_append_raw(&raw.text, "7", 1), 0);
    EXPECT_EQ(raw.text.capacity, 512u);
    EXPECT_EQ(std::string(raw.text.data, raw.text.length), first + "1234567");
}

TEST(TextBuffer, AppendTerminatesAgainAfterTheUserLoweredTheLength) {
    Buffer buffer;
    ASSERT_EQ(text_buffer_append(&buffer.text, "abcdef", 6), 0);
    buffer.text.length = 2;
    ASSERT_EQ(text_buffer_append(&buffer.text, "X", 1), 0);
    EXPECT_STREQ(buffer.text.data, "abX");
    EXPECT_TRUE(tail_is_zero(buffer.text));
}

TEST(TextBuffer, ZeroBytesAreAppendedAndCounted) {
    Buffer buffer;
    ASSERT_EQ(text_buffer_append(&buffer.text, "a\0b", 3), 0);
    EXPECT_EQ(buffer.text.length, 3u);
    EXPECT_EQ(memcmp(buffer.text.data, "a\0b", 4), 0);
    EXPECT_EQ(strlen(buffer.text.data), 1u);
}

TEST(TextBuffer, FailedGrowthLeavesTheBufferAndLogsOnlyForTheOrdinaryAppend) {
    LogCapture log;
    Buffer buffer;
    ASSERT_EQ(text_buffer_append(&buffer.text, "abc", 3), 0);
    std::string big(4095, 'x');
    char *old_data = buffer.text.data;
    {
        FailingAllocation failure(1);
        EXPECT_EQ(text_buffer_append(&buffer.text, big.data(), 4095), 12);
    }
    EXPECT_EQ(buffer.text.data, old_data);
    EXPECT_EQ(buffer.text.capacity, 256u);
    EXPECT_EQ(buffer.text.length, 3u);
    EXPECT_STREQ(buffer.text.data, "abc");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].level, 7);
    EXPECT_EQ(log.lines()[0].text, "No memory [4095 bytes]");

    log.clear();
    {
        FailingAllocation failure(1);
        EXPECT_EQ(text_buffer_append_raw(&buffer.text, big.data(), 4095), 12);
    }
    EXPECT_EQ(buffer.text.length, 3u);
    EXPECT_TRUE(log.lines().empty());
}

TEST(TextBuffer, AppendThatWouldOverflow32BitsIsRefusedUnchanged) {
    LogCapture log;
    Buffer buffer;
    ASSERT_EQ(text_buffer_append(&buffer.text, "abc", 3), 0);
    EXPECT_EQ(text_buffer_append(&buffer.text, "x", UINT32_MAX - 1), 12);
    EXPECT_EQ(text_buffer_append_raw(&buffer.text, "x", UINT32_MAX - 1), 12);
    EXPECT_EQ(buffer.text.length, 3u);
    EXPECT_EQ(buffer.text.capacity, 256u);
    EXPECT_STREQ(buffer.text.data, "abc");
}

TEST(TextBuffer, SinkAppendsAndPassesTheStatusBack) {
    Buffer buffer;
    EXPECT_EQ(text_buffer_sink("hello", 5, &buffer.text), 0);
    EXPECT_EQ(text_buffer_sink(" world", 6, &buffer.text), 0);
    EXPECT_STREQ(buffer.text.data, "hello world");
    LogCapture log;
    std::string big(300, 'y');
    FailingAllocation failure(1);
    EXPECT_EQ(text_buffer_sink(big.data(), 300, &buffer.text), 12);
}

} // namespace

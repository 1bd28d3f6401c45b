#include "allocation_sweep.h"
#include "json_document.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Composed {
    int status;
    std::string text;
    std::vector<size_t> sizes;
};

template <typename... Arguments>
Composed compose(const char *template_text, Arguments... arguments) {
    RecordingSink sink;
    int status = json_compose(record, &sink, template_text, arguments...);
    return {status, sink.text(), sink.sizes()};
}

TEST(JsonCompose, FillsTheDirectivesOfTheTemplate) {
    Composed composed = compose("{%s: [%d, %J], %s: %*s}", "id", 42, 8, "tag", 2, "abc");
    EXPECT_EQ(composed.status, 0);
    EXPECT_EQ(composed.text, R"({"id": [42, true], "tag": "ab"})");
    EXPECT_EQ(composed.sizes, std::vector<size_t>{31});
}

TEST(JsonCompose, WritesTheThreeLiterals) {
    EXPECT_EQ(compose("[%J, %J, %J]", 2, 4, 8).text, "[null, false, true]");
    EXPECT_EQ(compose("[%J]", 16).status, JSON_ESYNTAX);
    EXPECT_EQ(compose("[%J]", 0).status, JSON_ESYNTAX);
}

TEST(JsonCompose, QuotesAndEscapesTexts) {
    EXPECT_EQ(compose("%s", "a\"b\tc/\xC3\xA9").text, "\"a\\\"b\\tc/\xC3\xA9\"");
    EXPECT_EQ(compose("%s", "").text, "\"\"");
    EXPECT_EQ(compose("[%s, %s]", "first", "x").text, R"(["first", "x"])");
}

TEST(JsonCompose, TakesAtMostTheGivenLengthOfAText) {
    struct Case {
        int length;
        const char *source;
        const char *output;
    } cases[] = {
        {10, "ab", "\"ab\""}, {0, "ab", "\"\""}, {1, "ab", "\"a\""}, {5, "a\nb\0cd", "\"a\\nb\""}};
    for (const Case &c : cases) {
        Composed composed = compose("%*s", c.length, c.source);
        EXPECT_EQ(composed.status, 0) << c.length;
        EXPECT_EQ(composed.text, c.output) << c.length;
    }
}

TEST(JsonCompose, RejectsANullTextAndANegativeLength) {
    const char *missing = nullptr;
    EXPECT_EQ(compose("[%s]", missing).status, JSON_ESYNTAX);
    EXPECT_EQ(compose("[%*s]", 3, missing).status, JSON_ESYNTAX);
    Composed negative = compose("[%*s]", -1, "ab");
    EXPECT_EQ(negative.status, JSON_ESYNTAX);
    EXPECT_TRUE(negative.sizes.empty());
}

TEST(JsonCompose, WritesIntegersInDecimal) {
    struct Case {
        int number;
        const char *output;
    } cases[] = {
        {-7, "-7"}, {0, "0"}, {42, "42"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"}};
    for (const Case &c : cases)
        EXPECT_EQ(compose("%d", c.number).text, c.output);
}

TEST(JsonCompose, CharacterDirectiveTakesOnlyTemplateCharacters) {
    for (char c : std::string("\t\n\f\r ,:[]{}")) {
        Composed composed = compose("%c", int(c));
        EXPECT_EQ(composed.status, 0) << int(c);
        EXPECT_EQ(composed.text, std::string(1, c));
    }
    EXPECT_EQ(compose("%c", 0x15B).text, "["); // only the lowest byte counts
    for (int refused : {int('a'), int('"'), 0x0B, 0, 0xFF, -1})
        EXPECT_EQ(compose("%c", refused).status, JSON_ESYNTAX) << refused;
}

TEST(JsonCompose, CopiesTemplateCharactersUnchanged) {
    Composed composed = compose("\t\n\f\r ,:[]{}");
    EXPECT_EQ(composed.status, 0);
    EXPECT_EQ(composed.text, "\t\n\f\r ,:[]{}");
}

TEST(JsonCompose, RejectsAnyOtherTemplateByteWithoutCallingTheSink) {
    const char *templates[] = {"[\"]", "[1]", "[a]", "[\v]", "[\xC3\xA9]", "[%x]", "%%",
                               "[%",   "%*d", "%*",  "%S",   "%j",         "%D",   "[ % d]"};
    for (const char *template_text : templates) {
        Composed composed = compose(template_text, 1, 2);
        EXPECT_EQ(composed.status, JSON_ESYNTAX) << template_text;
        EXPECT_TRUE(composed.sizes.empty()) << template_text;
    }
}

TEST(JsonCompose, AFailureAfterSomeOutputMakesNoSinkCall) {
    Composed composed = compose("[[[[[[[[[[x]]]]]]]]]]");
    EXPECT_EQ(composed.status, JSON_ESYNTAX);
    EXPECT_TRUE(composed.sizes.empty());
}

TEST(JsonCompose, AFailureLateInALongTextLeavesOnlyTheFullChunksWithTheSink) {
    std::string template_text = std::string(600, ' ') + "%J";
    Composed composed = compose(template_text.c_str(), 16);
    EXPECT_EQ(composed.status, JSON_ESYNTAX);
    EXPECT_EQ(composed.sizes, (std::vector<size_t>{256, 256}));
}

TEST(JsonCompose, ReachesTheSinkIn256ByteChunks) {
    std::string blanks(300, ' ');
    Composed composed = compose(blanks.c_str());
    EXPECT_EQ(composed.status, 0);
    EXPECT_EQ(composed.sizes, (std::vector<size_t>{256, 44}));

    std::string long_text(700, 'x');
    composed = compose("[%s]", long_text.c_str());
    EXPECT_EQ(composed.status, 0);
    EXPECT_EQ(composed.text, "[\"" + long_text + "\"]");
    EXPECT_EQ(composed.sizes, (std::vector<size_t>{256, 256, 192}));
}

TEST(JsonCompose, EmptyTemplateCallsTheSinkOnceWithNothing) {
    EXPECT_EQ(compose("").sizes, std::vector<size_t>{0});
    RecordingSink sink;
    sink.failing_call = 1;
    EXPECT_EQ(json_compose(record, &sink, ""), 5);
    EXPECT_EQ(sink.calls.size(), 1u);
}

TEST(JsonCompose, ReturnsTheSinkFailureAndStops) {
    struct Case {
        size_t template_size;
        size_t failing_call;
    } cases[] = {{600, 1}, {600, 2}, {600, 3}, {10, 1}};
    for (const Case &c : cases) {
        std::string blanks(c.template_size, ' ');
        RecordingSink sink;
        sink.failing_call = c.failing_call;
        EXPECT_EQ(json_compose(record, &sink, blanks.c_str()), 5);
        EXPECT_EQ(sink.calls.size(), c.failing_call);
    }
}

TEST(JsonCompose, EscapeBufferIsMadeOnceAndReusedForEveryText) {
    unsigned long allocations = count_allocations([] {
        EXPECT_EQ(compose("[%s, %s, %*s]", "a", "bb", 3, "ccc").text, R"(["a", "bb", "ccc"])");
    });
    EXPECT_EQ(allocations, 2u); // the buffer record and its block
}

TEST(JsonCompose, OutOfMemoryInTheEscaperReturns12AndLeaksNothing) {
    std::string long_text(400, 'v');
    unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
        Composed composed = compose("{%s: %*s}", "key", 400, long_text.c_str());
        EXPECT_EQ(composed.status, nth == 0 ? 0 : 12) << "allocation " << nth;
        if (nth != 0) {
            EXPECT_TRUE(composed.sizes.empty());
        }
    });
    EXPECT_EQ(runs, 3u); // the buffer record, its block, one growth
}

} // namespace

namespace {

// %s takes its text whole or fails: a text of 4 GiB and more cannot go through the 32-bit escape
// buffer, so it is refused with 12 before anything is written, never cut and reported written.
TEST(JsonCompose, ATextTooLongForTheEscapeBufferIsRefusedNotCut) {
    std::string huge(size_t(UINT32_MAX) + 1, 'a');
    Composed composed = compose("[%s]", huge.c_str());
    EXPECT_EQ(composed.status, 12);
    EXPECT_TRUE(composed.sizes.empty());
}

} // namespace

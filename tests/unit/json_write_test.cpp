#include "allocation_sweep.h"
#include "json_document.h"
#include "log_capture.h"
#include "support/memory.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A value written indented (indent >= 0) or compact (indent < 0); the test fails if writing fails.
std::string written_as(const JsonValue *value, int indent) {
    RecordingSink sink;
    int status = indent < 0 ? json_serialize_compact(value, record, &sink)
                            : json_serialize_pretty(value, unsigned(indent), record, &sink);
    EXPECT_EQ(status, 0);
    return sink.text();
}

// The array ["xx..."] holding one string, written with exactly size bytes.
std::string document_written_with(size_t size) {
    return "[\"" + std::string(size - 6, 'x') + "\"]";
}

TEST(JsonWriter, WritesAParsedDocumentOnOneLineWithMembersInKeyOrder) {
    Document document(R"({"name": "a\"b\\c\u0001", "list": [1, 2.50, -3e2, true, false, null], )"
                      R"("obj": {}, "empty": []})");
    EXPECT_EQ(written(document.root),
              R"({ "empty": [  ], "list": [ 1, 2.50, -3e2, true, false, null ], )"
              R"("name": "a\"b\\c\u0001", "obj": {  } })");
}

TEST(JsonWriter, FindsAByteToEscapeInTheLastWordOfAStringOfWholeWords) {
    // A string's text is tested eight bytes at a time; when its length is a multiple of 8, its
    // last word lies wholly inside the text.
    for (size_t length : {8, 16, 24}) {
        for (size_t position = length - 8; position < length; ++position) {
            for (const char *escape : {"\\n", "\\\"", "\\u007f"}) {
                std::string before(position, 'a'), after(length - position - 1, 'b');
                std::string text = before + escape + after;
                SCOPED_TRACE(text);
                Document document("[\"" + text + "\"]");
                EXPECT_EQ(written(document.root), "[ \"" + text + "\" ]");
            }
        }
    }
}

struct WrittenCase {
    const char *text;
    const char *output;
};

class JsonWrittenForm : public testing::TestWithParam<WrittenCase> {};

TEST_P(JsonWrittenForm, IsTheOneLineStyle) {
    Document document(GetParam().text);
    EXPECT_EQ(written(document.root), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonWrittenForm,
    testing::Values(WrittenCase{"[]", "[  ]"}, WrittenCase{"{}", "{  }"},
                    WrittenCase{"[[],{},[[]]]", "[ [  ], {  }, [ [  ] ] ]"},
                    WrittenCase{R"({"a":{},"b":[]})", R"({ "a": {  }, "b": [  ] })"},
                    WrittenCase{"[0,-0,0.5,1E+5,1.5e-3,-0.0E-0,12345678901234567890]",
                                "[ 0, -0, 0.5, 1E+5, 1.5e-3, -0.0E-0, 12345678901234567890 ]"},
                    WrittenCase{"[null,true,false]", "[ null, true, false ]"},
                    WrittenCase{R"(["", "a/b", "\/"])", R"([ "", "a/b", "/" ])"},
                    WrittenCase{R"({"a\tb\"c": "a\tb\"c", "\u001f": 1})",
                                R"({ "\u001f": 1, "a\tb\"c": "a\tb\"c" })"},
                    WrittenCase{"{\"z\": 1, \"\xC3\xA9\": 2, \"A\": 3}",
                                "{ \"A\": 3, \"z\": 1, \"\xC3\xA9\": 2 }"}));

TEST(JsonWriter, WritesAScalarRootAsItsText) {
    struct Case {
        const char *text;
        const char *output;
    } cases[] = {{"7", "7"},
                 {"-3e2", "-3e2"},
                 {"null", "null"},
                 {"false", "false"},
                 {R"("a\nb")", R"("a\nb")"}};
    for (const Case &c : cases) {
        JsonValue *value = nullptr;
        const char *end = nullptr;
        ASSERT_GT(json_parse_value(c.text, &end, &value), JSON_NOMATCH) << c.text;
        EXPECT_EQ(written(value), c.output);
        json_free(&value);
    }
}

struct FormCase {
    const char *text;
    unsigned indent;
    const char *indented;
    const char *compact;
};

class JsonOtherForms : public testing::TestWithParam<FormCase> {};

TEST_P(JsonOtherForms, AreIndentedOrWithoutBlanks) {
    JsonValue *value = nullptr;
    const char *end = nullptr;
    json_parse_value(GetParam().text, &end, &value);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(written_as(value, int(GetParam().indent)), GetParam().indented);
    EXPECT_EQ(written_as(value, -1), GetParam().compact);
    json_free(&value);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonOtherForms,
    testing::Values(FormCase{"[]", 2, "[]", "[]"}, FormCase{" { } ", 2, "{}", "{}"},
                    FormCase{"-1.50e+3", 2, "-1.50e+3", "-1.50e+3"},
                    FormCase{R"("a b\n")", 2, R"("a b\n")", R"("a b\n")"},
                    FormCase{"[1, [], {}, [2]]", 2, "[\n  1,\n  [],\n  {},\n  [\n    2\n  ]\n]",
                             "[1,[],{},[2]]"},
                    FormCase{R"({"b": {"c": [true, null]}, "a\tc": "x y"})", 4,
                             "{\n    \"a\\tc\": \"x y\",\n    \"b\": {\n        \"c\": [\n"
                             "            true,\n            null\n        ]\n    }\n}",
                             R"({"a\tc":"x y","b":{"c":[true,null]}})"},
                    FormCase{R"({"a": [1, 2], "b": false})", 0,
                             "{\n\"a\": [\n1,\n2\n],\n\"b\": false\n}", R"({"a":[1,2],"b":false})"},
                    FormCase{R"([[[{"k": []}]]])", 1,
                             "[\n [\n  [\n   {\n    \"k\": []\n   }\n  ]\n ]\n]",
                             R"([[[{"k":[]}]]])"}));

TEST(JsonWriter, IndentationOfManyBlanksReachesTheSinkWhole) {
    Document document("[[1]]");
    std::string blanks(300, ' ');
    EXPECT_EQ(written_as(document.root, 300),
              "[\n" + blanks + "[\n" + blanks + blanks + "1\n" + blanks + "]\n]");
}

TEST(JsonWriter, ValueOfNoKnownTypeWritesNothing) {
    JsonValue strange{256, nullptr};
    RecordingSink sink;
    EXPECT_EQ(json_serialize(&strange, record, &sink), 0);
    EXPECT_EQ(sink.sizes(), std::vector<size_t>{0});
}

struct EscapeCase {
    std::string source;
    std::string escaped; // without the quotes
};

class JsonEscape : public testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscape, ReplacesEachByteByTheTable) {
    TextBuffer *buffer = nullptr;
    const char *text = nullptr;
    uint32_t length = 0;
    const std::string &source = GetParam().source;
    ASSERT_EQ(json_escape_string(&text, source.data(), uint32_t(source.size()), &length, &buffer),
              0);
    std::string quoted = "\"" + GetParam().escaped + "\"";
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), quoted);
    EXPECT_EQ(length, quoted.size());
    EXPECT_EQ(json_escape_string(nullptr, nullptr, 0, nullptr, &buffer), 0);
    EXPECT_EQ(buffer, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, JsonEscape,
    testing::Values(EscapeCase{"\b", "\\b"}, EscapeCase{"\t", "\\t"}, EscapeCase{"\n", "\\n"},
                    EscapeCase{"\f", "\\f"}, EscapeCase{"\r", "\\r"}, EscapeCase{"\"", "\\\""},
                    EscapeCase{"\\", "\\\\"}, EscapeCase{"\x01", "\\u0001"},
                    EscapeCase{"\x0B", "\\u000b"}, EscapeCase{"\x1B", "\\u001b"},
                    EscapeCase{"\x1F", "\\u001f"}, EscapeCase{"\x7F", "\\u007f"},
                    EscapeCase{"/", "/"}, EscapeCase{"\xC3\xA9", "\xC3\xA9"},
                    EscapeCase{"\xFF", "\xFF"}, EscapeCase{"", ""},
                    EscapeCase{"a\"b\\c\x01z", "a\\\"b\\\\c\\u0001z"}));

TEST(JsonEscapeString, FindsBytesToEscapeAtEveryOffsetOfALongString) {
    // The escaper looks at eight bytes at a time; bytes from 0x80 up pass as they are.
    const EscapeCase specials[] = {
        {"\"", "\\\""}, {"\\", "\\\\"}, {"\n", "\\n"}, {"\x01", "\\u0001"}, {"\x7F", "\\u007f"}};
    for (size_t offset = 0; offset < 20; ++offset) {
        std::string head;
        for (size_t i = 0; i < offset; ++i)
            head += i % 2 ? char('a' + i) : '\xE9';
        for (const EscapeCase &special : specials) {
            std::string source = head + special.source + "0123456789" + special.source;
            std::string expected =
                "\"" + head + special.escaped + "0123456789" + special.escaped + "\"";
            TextBuffer *buffer = nullptr;
            const char *text = nullptr;
            uint32_t length = 0;
            ASSERT_EQ(
                json_escape_string(&text, source.data(), uint32_t(source.size()), &length, &buffer),
                0);
            EXPECT_EQ(std::string(text, length), expected) << offset;
            json_escape_string(nullptr, nullptr, 0, nullptr, &buffer);
        }
    }
}

TEST(JsonEscapeString, StopsAtTheLengthOrAtAZeroByteAndReusesItsBuffer) {
    TextBuffer *buffer = nullptr;
    const char *text = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(json_escape_string(&text, "abcdef", 3, &length, &buffer), 0);
    EXPECT_STREQ(text, "\"abc\"");
    EXPECT_EQ(length, 5u);
    TextBuffer *first_buffer = buffer;
    ASSERT_EQ(json_escape_string(&text, "x\0yz", 4, &length, &buffer), 0);
    EXPECT_STREQ(text, "\"x\"");
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(buffer, first_buffer);
    json_escape_string(nullptr, nullptr, 0, nullptr, &buffer);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(json_escape_string(nullptr, nullptr, 0, nullptr, &buffer), 0);
}

TEST(JsonEscapeString, OutOfMemoryReturns12AndLeavesTheOutputsUnset) {
    std::string source(600, 'q'); // the buffer record, its block, one growth
    unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
        TextBuffer *buffer = nullptr;
        const char *text = "untouched";
        uint32_t length = 99;
        int status = json_escape_string(&text, source.data(), 600, &length, &buffer);
        if (nth == 0) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(length, 602u);
        } else {
            EXPECT_EQ(status, 12) << "allocation " << nth;
            EXPECT_EQ(text, nullptr);
            EXPECT_EQ(length, 99u);
        }
        json_escape_string(nullptr, nullptr, 0, nullptr, &buffer);
    });
    EXPECT_EQ(runs, 3u);
}

TEST(JsonWriter, WritesAStringWithZeroBytesWhole) {
    Document document(R"({"k\u0000x": ["\u0000", "a\u0000b"]})");
    EXPECT_EQ(written(document.root), R"({ "k\u0000x": [ "\u0000", "a\u0000b" ] })");
}

struct ChunkCase {
    size_t size;
    std::vector<size_t> chunks;
};

class JsonWriterChunks : public testing::TestWithParam<ChunkCase> {};

TEST_P(JsonWriterChunks, ReachTheSinkIn256ByteChunksAndALastOne) {
    Document document(document_written_with(GetParam().size));
    RecordingSink sink;
    ASSERT_EQ(json_serialize(document.root, record, &sink), 0);
    EXPECT_EQ(sink.sizes(), GetParam().chunks);
    EXPECT_EQ(sink.text().size(), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, JsonWriterChunks,
    testing::Values(ChunkCase{255, {255}}, ChunkCase{256, {256}}, ChunkCase{257, {256, 1}},
                    ChunkCase{512, {256, 256}}, ChunkCase{513, {256, 256, 1}},
                    ChunkCase{2000, {256, 256, 256, 256, 256, 256, 256, 208}}));

TEST(JsonWriter, SinkFailureIsReturnedAndEndsTheWriting) {
    struct Case {
        size_t document_size;
        size_t failing_call;
        int forms; // one-line, indented, compact (4 bytes shorter)
    } cases[] = {{100, 1, 3}, {1000, 1, 3}, {1000, 2, 3}, {1000, 4, 3}, {513, 3, 2}};
    for (const Case &c : cases) {
        Document document(document_written_with(c.document_size));
        for (int form = 0; form < c.forms; ++form) {
            RecordingSink sink;
            sink.failing_call = c.failing_call;
            int status = form == 0   ? json_serialize(document.root, record, &sink)
                         : form == 1 ? json_serialize_pretty(document.root, 2, record, &sink)
                                     : json_serialize_compact(document.root, record, &sink);
            EXPECT_EQ(status, 5) << form;
            EXPECT_EQ(sink.calls.size(), c.failing_call) << c.document_size << ", form " << form;
        }
    }
}

TEST(JsonWriter, RefusedBytesStayStagedForTheNextFlush) {
    RecordingSink sink;
    sink.failing_call = 1;
    JsonWriter writer;
    json_writer_init(&writer, record, &sink);
    std::string bytes = std::string(256, 'a') + "bcd";
    // The full staging is flushed for the 257th byte; the refusal drops the rest.
    EXPECT_EQ(json_writer_write(&writer, bytes.data(), 259u, nullptr), 5);
    EXPECT_EQ(writer.staging_used, 256u);
    EXPECT_EQ(json_writer_flush(&writer), 0);
    EXPECT_EQ(sink.calls, (std::vector<std::string>{bytes.substr(0, 256), bytes.substr(0, 256)}));
    EXPECT_EQ(writer.staging_used, 0u);
    EXPECT_EQ(writer.write_pos, writer.staging);
}

TEST(JsonWriter, WriteTakesPairsUntilANullPointerOrAZeroCount) {
    RecordingSink sink;
    JsonWriter writer;
    json_writer_init(&writer, record, &sink);
    EXPECT_EQ(json_writer_write(&writer, "ab", 2u, "cdXX", 2u, nullptr), 0);
    EXPECT_EQ(json_writer_write(&writer, "e", 1u, "XX", 0u, "YY", 2u, nullptr), 0);
    EXPECT_EQ(json_writer_write(&writer, "XX", 0u, "YY", 2u, nullptr), 0);
    EXPECT_EQ(json_writer_write(&writer, nullptr), 0);
    EXPECT_EQ(std::string(writer.staging, writer.staging_used), "abcde");
    EXPECT_TRUE(sink.calls.empty());
}

TEST(JsonWriter, WritesTheSeparatorsACallerSetWithTheirLength) {
    Document document(R"({"b": [1, {}, [2]], "a\tc": "x"})");
    RecordingSink sink;
    JsonWriter writer;
    json_writer_init(&writer, record, &sink);
    const char *separators[] = {"[", "]", "{", "}", ":", ","};
    char *fields[] = {writer.open_array,   writer.close_array,    writer.open_object,
                      writer.close_object, writer.name_separator, writer.value_separator};
    for (int i = 0; i < 6; ++i)
        strcpy(fields[i], separators[i]);
    writer.separator_length = 1;
    EXPECT_EQ(json_write_value(&writer, document.root), 0);
    EXPECT_EQ(std::string(writer.staging, writer.staging_used), R"({"a\tc":"x","b":[1,{},[2]]})");
}

// Strings are escaped straight into the staging buffer, and the walk keeps its first 64 levels on
// the stack: only a deeper document takes a heap block, whose failure is 12 with nothing written.
TEST(JsonWriter, OnlyNestingBeyond64LevelsAllocatesAndItsFailureReturns12) {
    Document shallow(R"({"key": ["value", ")" + std::string(400, 'v') + R"("]})");
    EXPECT_EQ(count_allocations([&] {
                  RecordingSink sink;
                  EXPECT_EQ(json_serialize(shallow.root, record, &sink), 0);
              }),
              0u);
    EXPECT_EQ(count_allocations([&] { written_as(shallow.root, 2); }), 0u);
    EXPECT_EQ(count_allocations([&] { written_as(shallow.root, -1); }), 0u);
    Document deep(std::string(70, '[') + std::string(70, ']'));
    for (int form = 0; form < 3; ++form) {
        unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
            RecordingSink sink;
            int status = form == 0   ? json_serialize(deep.root, record, &sink)
                         : form == 1 ? json_serialize_pretty(deep.root, 0, record, &sink)
                                     : json_serialize_compact(deep.root, record, &sink);
            EXPECT_EQ(status, nth == 0 ? 0 : 12) << "allocation " << nth << ", form " << form;
            if (nth != 0) {
                EXPECT_TRUE(sink.calls.empty());
            }
        });
        EXPECT_EQ(runs, 1u) << form;
    }
}

TEST(JsonWriter, TheStackHoldsTheFramesOfExactlyItsLevels) {
    // An empty innermost container is written whole and takes no frame: 64 frames serve 65
    // levels.
    const struct {
        int levels;
        unsigned long allocations;
    } cases[] = {{64, 0}, {65, 0}, {66, 1}};
    for (const auto &test : cases) {
        SCOPED_TRACE(testing::Message() << test.levels << " levels");
        Document deep(std::string(size_t(test.levels), '[') +
                      std::string(size_t(test.levels), ']'));
        std::string expected = "[  ]";
        for (int level = 1; level < test.levels; ++level)
            expected = "[ " + expected + " ]";
        std::string output;
        EXPECT_EQ(count_allocations([&] { output = written(deep.root); }), test.allocations);
        EXPECT_EQ(output, expected);
    }
}

// Editing can nest without bound; writing and freeing walk without recursion, so a million
// levels (arrays and objects in turn) neither exhaust the stack nor change the output.
TEST(JsonWriter, DocumentsNestedAMillionLevelsByEditingAreWrittenAndFreed) {
    const int depth = 1000000;
    long live = mem_live_blocks();
    Document document("[]");
    JsonValue *innermost = document.root;
    std::string expected;
    std::string closings;
    for (int level = 1; level < depth; ++level) {
        if (json_type(innermost) == JSON_ARRAY) {
            ASSERT_EQ(json_array_set(innermost, 0, "{}"), 0);
            innermost = json_array_item(innermost, 0);
            expected += "[ ";
            closings += ']';
        } else {
            ASSERT_EQ(json_object_set(innermost, "k", "[]"), 0);
            innermost = json_object_find(innermost, "k", nullptr);
            expected += "{ \"k\": ";
            closings += '}';
        }
    }
    expected += json_type(innermost) == JSON_ARRAY ? "[  ]" : "{  }";
    for (auto closing = closings.rbegin(); closing != closings.rend(); ++closing)
        expected += std::string(" ") + *closing;
    RecordingSink sink;
    ASSERT_EQ(json_serialize(document.root, record, &sink), 0);
    EXPECT_TRUE(sink.text() == expected)
        << "the text differs; its size is " << sink.text().size() << ", not " << expected.size();
    // A copy, compared with the original and written at that depth too, then changed innermost.
    JsonValue *copy = nullptr;
    ASSERT_EQ(json_copy(&copy, document.root), 0);
    EXPECT_EQ(json_compare(copy, document.root), 0);
    std::string compact;
    for (char c : expected)
        if (c != ' ') compact += c;
    EXPECT_TRUE(written_as(copy, -1) == compact) << "the compact text differs";
    std::string indented = written_as(copy, 0);
    EXPECT_EQ(indented.size(), compact.size() + 2 * size_t(depth - 1) + (depth - 1) / 2);
    EXPECT_EQ(indented.substr(0, 9), "[\n{\n\"k\": ");
    JsonValue *copy_innermost = copy;
    while (json_length(copy_innermost) > 0)
        copy_innermost = json_type(copy_innermost) == JSON_ARRAY
                             ? json_array_item(copy_innermost, 0)
                             : json_object_find(copy_innermost, "k", nullptr);
    EXPECT_NE(copy_innermost, innermost);
    ASSERT_EQ(json_type(copy_innermost) == JSON_ARRAY ? json_array_set(copy_innermost, 0, "0")
                                                      : json_object_set(copy_innermost, "z", "0"),
              0);
    EXPECT_EQ(json_compare(copy, document.root), JSON_NOMATCH);
    json_free(&copy);
    json_free(&document.root);
    EXPECT_EQ(mem_live_blocks(), live);
}

TEST(JsonDumpToLog, LogsTheDocumentAsOneLevel7Line) {
    Document document(R"({"pct": "100%s", "n": [1]})");
    LogCapture log(7);
    long live = mem_live_blocks();
    json_dump_to_log(document.root);
    EXPECT_EQ(mem_live_blocks(), live);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].level, 7);
    EXPECT_EQ(log.lines()[0].text, R"({ "n": [ 1 ], "pct": "100%s" })");
}

TEST(JsonDumpToLog, LogsNothingBelowThreshold7) {
    Document document("[1, 2]");
    LogCapture log(6);
    json_dump_to_log(document.root);
    EXPECT_TRUE(log.lines().empty());
}

TEST(JsonDumpToLog, ReportsAFailureInsteadOfTheDocument) {
    LogCapture log(7);
    {
        Document document("[1, 2]"); // its only allocation is the log text's block
        FailingAllocation failure(1);
        json_dump_to_log(document.root);
    }
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"No memory [8 bytes]", "Error dumping json"}));
    log.clear();
    {
        Document document(std::string(70, '[') + std::string(70, ']')); // the walk's block first
        FailingAllocation failure(1);
        json_dump_to_log(document.root);
    }
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Error dumping json"});
    for (const LogCaptureLine &line : log.lines())
        EXPECT_EQ(line.level, 7);
}

class JsonRoundTrip : public testing::TestWithParam<std::string> {};

TEST_P(JsonRoundTrip, WritingTheReparsedOutputGivesTheSameBytes) {
    Document original(GetParam());
    std::string first = written(original.root);
    Document reparsed(first);
    EXPECT_EQ(describe(reparsed.root), describe(original.root));
    EXPECT_EQ(written(reparsed.root), first);
    for (int indent : {-1, 0, 3}) {
        Document other(written_as(original.root, indent));
        EXPECT_EQ(describe(other.root), describe(original.root)) << indent;
    }
}

// Every form of each benchmark document reads back as a document equal to it.
TEST(JsonRoundTrip, EveryFormOfTheBenchmarkDocumentsReadsBackEqual) {
    for (const char *name : {"canada", "citm_catalog", "twitter"}) {
        std::ifstream file(std::string(HUB_BENCH_DATA) + "/" + name + ".json", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_GT(text.size(), 100000u) << name;
        Document original(text);
        for (int indent : {-1, 0, 2, 8}) {
            std::string output = written_as(original.root, indent);
            Document other(output);
            EXPECT_EQ(json_compare(other.root, original.root), 0) << name << ", " << indent;
        }
        Document one_line(written(original.root));
        EXPECT_EQ(json_compare(one_line.root, original.root), 0) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonRoundTrip,
    testing::Values(R"({"name": "a\"b\\c\u0001", "list": [1, 2.50, -3e2, true, false, null], )"
                    R"("obj": {}, "empty": []})",
                    R"(["\u0000", "a\u0000b", "\u0000\u0000", ""])",
                    "{\"caf\\u00e9\": \"\\ud83d\\ude00 \xC3\xA9\", \"\\/\": "
                    "\"\\b\\f\\n\\r\\t\\\"\\\\\\u001f\\u007f\"}",
                    R"([[[{"a": [{}, []]}]], {"z": {"y": {"x": null}}}])",
                    R"([2.50, -3e2, 0, -0, 1E+5, -0.0E-0, 1e+10, 12345678901234567890])",
                    "\t{ \"b\" :1,\n\"a\": [true, false, null], \"c\": \"\"}"));

} // namespace

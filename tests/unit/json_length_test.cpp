#include "json_document.h"
#include "support/memory.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

std::string bytes(const char *text, size_t length) {
    return std::string(text, length);
}

// A text held in a block of exactly its length, so that an address sanitizer reports a read past
// the length.
struct ExactCopy {
    std::unique_ptr<char[]> block;
    size_t length;
    explicit ExactCopy(const std::string &text)
        : block(new char[text.size()]), length(text.size()) {
        memcpy(block.get(), text.data(), text.size());
    }
};

struct LengthCase {
    std::string text;
    int status;
    long end;
};

// Parses building and validating, checks that both agree, that nothing leaks, that validating
// allocates nothing and that a failure leaves a null root; returns the status and the end.
int parse_sized(const std::string &text, unsigned flags, long *end_offset, std::string *document) {
    ExactCopy copy(text);
    long live = mem_live_blocks();
    JsonValue stale{};
    JsonValue *root = &stale;
    const char *end = nullptr;
    int status = json_parse_length(copy.block.get(), copy.length, flags, &end, &root);
    *end_offset = end - copy.block.get();
    if (status == 0) {
        *document = describe(root);
        json_free(&root);
    } else if (flags & JSON_PARSE_STRICT) {
        EXPECT_EQ(root, nullptr);
    }
    EXPECT_EQ(mem_live_blocks(), live);
    unsigned long calls = mem_allocation_calls();
    const char *validation_end = nullptr;
    EXPECT_EQ(json_parse_length(copy.block.get(), copy.length, flags, &validation_end, nullptr),
              status);
    EXPECT_EQ(mem_allocation_calls(), calls) << "validation allocated";
    EXPECT_EQ(validation_end, end);
    return status;
}

void check_cases(const std::vector<LengthCase> &cases, unsigned flags) {
    for (const LengthCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        long end = 0;
        std::string document;
        EXPECT_EQ(parse_sized(c.text, flags, &end, &document), c.status);
        EXPECT_EQ(end, c.end == -1 ? long(c.text.size()) : c.end);
    }
}

const long WHOLE = -1;

TEST(JsonParseLength, AZeroByteInsideTheLengthIsAByteNotTheEnd) {
    // json_parse would stop at the zero byte; here it is a byte that cannot continue the
    // document, or, behind the document, one the library's grammar does not examine.
    const std::vector<LengthCase> cases = {
        {bytes("[1,\0 2]", 7), JSON_ESYNTAX, 3},
        {bytes("[1\0]", 4), JSON_ESYNTAX, 2},
        {bytes("[\0]", 3), JSON_ESYNTAX, 1},
        {bytes("\0[]", 3), JSON_ESYNTAX, 0},
        {bytes("[\"a\0b\"]", 7), JSON_ESYNTAX, 3},
        {bytes("[\"\\\0\"]", 6), JSON_ESYNTAX, 3},
        {bytes("{\"a\0\":1}", 8), JSON_ESYNTAX, 3},
        {bytes("[tr\0e]", 6), JSON_ESYNTAX, 1},
        {bytes("[1]\0", 4), 0, 3},
        {bytes("[\"\\u0000\"]", 10), 0, WHOLE},
    };
    check_cases(cases, 0);
    // The strict grammar refuses the zero byte behind the document too.
    check_cases({{bytes("[1]\0", 4), JSON_ESYNTAX, 3}, {bytes("1\0", 2), JSON_ESYNTAX, 1}},
                JSON_PARSE_STRICT);
}

TEST(JsonParseLength, UnknownFlagsAreRefusedBeforeReading) {
    const char *text = " []";
    for (unsigned flags : {2u, 0x80000000u, 3u}) {
        JsonValue stale{};
        JsonValue *root = &stale;
        const char *end = nullptr;
        EXPECT_EQ(json_parse_length(text, 3, flags, &end, &root), JSON_EINVAL) << flags;
        EXPECT_EQ(root, &stale);
        EXPECT_EQ(end, text);
    }
}

// The strict grammar, rule by rule: RFC 8259's JSON-text, ws, value, literals, object, array,
// number and string, and RFC 3629's UTF-8 byte sequences. Each rule has texts it accepts and
// texts it refuses, with where the refusal points.
TEST(JsonParseLength, StrictGrammarRuleByRule) {
    const std::vector<LengthCase> cases = {
        // JSON-text = ws value ws: any value, white space around it and nothing else.
        {"[]", 0, WHOLE},
        {" \t\n\r{} \r\n\t", 0, 6},
        {"1", 0, WHOLE},
        {" 1 ", 0, 2},
        {"", JSON_ESYNTAX, 0},
        {" \n", JSON_ESYNTAX, 2},
        {"1 2", JSON_ESYNTAX, 2},
        {"[] x", JSON_ESYNTAX, 3},
        {"[]]", JSON_ESYNTAX, 2},
        {"{}{}", JSON_ESYNTAX, 2},
        {"\xEF\xBB\xBF[]", JSON_ESYNTAX, 0},
        // ws = space, tab, line feed, carriage return; no vertical tab or form feed.
        {"[\t1\n,\r2 ]", 0, WHOLE},
        {"\v[]", JSON_ESYNTAX, 0},
        {"[1\f]", JSON_ESYNTAX, 2},
        {"{\"a\"\v:1}", JSON_ESYNTAX, 4},
        {"[]\f", JSON_ESYNTAX, 2},
        {"\xA0[]", JSON_ESYNTAX, 0},
        // value: the three literals, in lower case, standing alone.
        {"false", 0, WHOLE},
        {"null", 0, WHOLE},
        {"true", 0, WHOLE},
        {"[true,false,null]", 0, WHOLE},
        {"nul", JSON_ESYNTAX, 0},
        {"True", JSON_ESYNTAX, 0},
        {"nulls", JSON_ESYNTAX, 4},
        {"NaN", JSON_ESYNTAX, 0},
        {"Infinity", JSON_ESYNTAX, 0},
        {"undefined", JSON_ESYNTAX, 0},
        // object = { [ member *( , member ) ] }, member = string : value.
        {"{}", 0, WHOLE},
        {"{\"a\":1,\"b\":[{}]}", 0, WHOLE},
        {"{ \"a\" : 1 }", 0, WHOLE},
        {"{\"a\":1,\"a\":2}", 0, WHOLE},
        {"{a:1}", JSON_ESYNTAX, 1},
        {"{'a':1}", JSON_ESYNTAX, 1},
        {"{1:1}", JSON_ESYNTAX, 1},
        {"{\"a\"}", JSON_ESYNTAX, 4},
        {"{\"a\" 1}", JSON_ESYNTAX, 4},
        {"{\"a\":1,}", JSON_ESYNTAX, 7},
        {"{,}", JSON_ESYNTAX, 1},
        {"{\"a\":1;\"b\":2}", JSON_ESYNTAX, 6},
        {"{\"a\":1", JSON_ESYNTAX, 0},
        // array = [ [ value *( , value ) ] ].
        {"[]", 0, WHOLE},
        {"[1,[2],{},\"x\"]", 0, WHOLE},
        {"[1,]", JSON_ESYNTAX, 3},
        {"[,1]", JSON_ESYNTAX, 1},
        {"[1 2]", JSON_ESYNTAX, 2},
        {"[1,,2]", JSON_ESYNTAX, 3},
        {"[1", JSON_ESYNTAX, 0},
        {"[1}", JSON_ESYNTAX, 2},
        // number = [ minus ] int [ frac ] [ exp ]; int = zero / digit1-9 *DIGIT. Any size.
        {"0", 0, WHOLE},
        {"-0", 0, WHOLE},
        {"-12.5e+3", 0, WHOLE},
        {"1E-7", 0, WHOLE},
        {"123456789012345678901234567890e999999", 0, WHOLE},
        {"-1234567890123456789012345678901234567890.1234567890123456789012345678901234567890", 0,
         WHOLE},
        {"01", JSON_ESYNTAX, 0},
        {"-01", JSON_ESYNTAX, 0},
        {"+1", JSON_ESYNTAX, 0},
        {".5", JSON_ESYNTAX, 0},
        {"1.", JSON_ESYNTAX, 0},
        {"1.e5", JSON_ESYNTAX, 0},
        {"1e", JSON_ESYNTAX, 0},
        {"1e+", JSON_ESYNTAX, 0},
        {"-", JSON_ESYNTAX, 0},
        {"--1", JSON_ESYNTAX, 0},
        {"0x1F", JSON_ESYNTAX, 1},
        {"1_000", JSON_ESYNTAX, 1},
        // string = quotation-mark *char quotation-mark; unescaped = %x20-21 / %x23-5B /
        // %x5D-10FFFF, so DEL stands for itself; escapes are the nine, \u with four hex digits.
        {"\"\"", 0, WHOLE},
        {"\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t\"", 0, WHOLE},
        {"\"\\u00e9\\uABCD\\u0000\"", 0, WHOLE},
        {"\"\\uD83D\\uDE00\"", 0, WHOLE},
        {"\"a\x7F"
         "b\"",
         0, WHOLE},
        {"[\"\x7F\\n\x7F\"]", 0, WHOLE},
        {"\"\\q\"", JSON_ESYNTAX, 2},
        {"\"\\a\"", JSON_ESYNTAX, 2},
        {"\"\\'\"", JSON_ESYNTAX, 2},
        {"\"\\U0041\"", JSON_ESYNTAX, 2},
        {"\"\\x41\"", JSON_ESYNTAX, 2},
        {"\"\\u12\"", JSON_ESYNTAX, 5},
        {"\"\\u12G4\"", JSON_ESYNTAX, 5},
        {"\"\\u\"", JSON_ESYNTAX, 3},
        {"\"\\u12", JSON_ESYNTAX, 0},
        {"\"\\uDC00\"", JSON_ESYNTAX, 1},
        {"\"\\uD800\\u0041\"", JSON_ESYNTAX, 1},
        {"\"a\tb\"", JSON_ESYNTAX, 2},
        {"\"\x1F\"", JSON_ESYNTAX, 1},
        {"\"abc", JSON_ESYNTAX, 0},
        {"'a'", JSON_ESYNTAX, 0},
        // UTF-8 (RFC 3629): the shortest form of a scalar value up to U+10FFFF.
        {"\"\xC2\x80 \xDF\xBF\"", 0, WHOLE},
        {"\"\xE0\xA0\x80 \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBF\"", 0, WHOLE},
        {"\"\xF0\x90\x80\x80 \xF3\xBF\xBF\xBF \xF4\x8F\xBF\xBF\"", 0, WHOLE},
        {"\"abcdefgh\xC3\xA9ijklmnopqrstu\xE2\x82\xAC\"", 0, WHOLE},
        {"\"\x80\"", JSON_ESYNTAX, 1},
        {"\"abcdefghij\xBF\"", JSON_ESYNTAX, 11},
        {"\"\xC0\x80\"", JSON_ESYNTAX, 1},
        {"\"\xC1\xBF\"", JSON_ESYNTAX, 1},
        {"\"\xE0\x9F\xBF\"", JSON_ESYNTAX, 2},
        {"\"\xED\xA0\x80\"", JSON_ESYNTAX, 2},
        {"\"\xED\xBF\xBF\"", JSON_ESYNTAX, 2},
        {"\"\xF0\x8F\xBF\xBF\"", JSON_ESYNTAX, 2},
        {"\"\xF4\x90\x80\x80\"", JSON_ESYNTAX, 2},
        {"\"\xF5\x80\x80\x80\"", JSON_ESYNTAX, 1},
        {"\"\xFE\"", JSON_ESYNTAX, 1},
        {"\"\xFF\"", JSON_ESYNTAX, 1},
        {"\"\xC3(\"", JSON_ESYNTAX, 2},
        {"\"\xE2\x82(\"", JSON_ESYNTAX, 3},
        {"\"\xF0\x9F\x98\"", JSON_ESYNTAX, 4},
        {"\"\xC3\\n\"", JSON_ESYNTAX, 2},
        {"\"\xC3\x7F\"", JSON_ESYNTAX, 2},
        {"\"\xE2\x82", JSON_ESYNTAX, 0},
        // Nesting up to the library's depth.
        {std::string(JSON_MAX_DEPTH, '[') + std::string(JSON_MAX_DEPTH, ']'), 0, WHOLE},
        {std::string(JSON_MAX_DEPTH + 1, '[') + std::string(JSON_MAX_DEPTH + 1, ']'), JSON_ESYNTAX,
         JSON_MAX_DEPTH},
    };
    check_cases(cases, JSON_PARSE_STRICT);
}

TEST(JsonParseLength, StrictDocumentsKeepWhatTheyHold) {
    const struct {
        std::string text;
        std::string described;
    } cases[] = {
        {"  -1.50e+3 ", "-1.50e+3"},
        {"\"a\x7F\\u00e9\"", "'a\x7F\xC3\xA9'"},
        {"true", "true"},
        {"{\"b\":1,\"a\":[null]}", "{'a':[null],'b':1}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        long end = 0;
        std::string document;
        ASSERT_EQ(parse_sized(c.text, JSON_PARSE_STRICT, &end, &document), 0);
        EXPECT_EQ(document, c.described);
    }
}

#if defined(__linux__)

// A text whose last byte is the last byte of a mapped page, the next page being unreadable:
// a read past the length faults.
class PageEndText {
  public:
    PageEndText() {
        page_ = size_t(sysconf(_SC_PAGESIZE));
        void *pages =
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) return;
        pages_ = static_cast<char *>(pages);
        if (mprotect(pages_ + page_, page_, PROT_NONE) != 0) {
            munmap(pages_, 2 * page_);
            pages_ = nullptr;
        }
    }
    ~PageEndText() {
        if (pages_) munmap(pages_, 2 * page_);
    }
    PageEndText(const PageEndText &) = delete;
    PageEndText &operator=(const PageEndText &) = delete;

    bool ready() const { return pages_ != nullptr; }
    // Places text so that it ends at the page's end, and returns where it starts.
    const char *place(const std::string &text) {
        char *start = pages_ + page_ - text.size();
        memcpy(start, text.data(), text.size());
        return start;
    }

  private:
    size_t page_ = 0;
    char *pages_ = nullptr;
};

TEST(JsonParseLength, EveryPrefixEndingAtAnUnreadablePageReadsNoFurther) {
    // Every way a text can be cut: inside literals, numbers, escapes, UTF-8, white space and
    // long runs that are scanned eight bytes at a time.
    const std::string document =
        "{\"key\":[null,true,false,-12.5e+3,0,1234567890123456789012345678901234567890.5e-7, "
        "\"plain text of some "
        "length\",\"\\u00e9\\ud83d\\ude00\\n\\\"\\q\",\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\","
        "                    {\"a\" : {}}, [ ]\t,\r\n\"\\u12\"], \"z\":1}";
    PageEndText page;
    ASSERT_TRUE(page.ready());
    for (size_t length = 0; length <= document.size(); ++length) {
        std::string prefix = document.substr(0, length);
        SCOPED_TRACE(testing::PrintToString(prefix));
        JsonValue *expected = nullptr;
        const char *expected_end = nullptr;
        int status = json_parse(prefix.c_str(), &expected_end, &expected);
        const char *text = page.place(prefix);
        for (unsigned flags : {0u, unsigned(JSON_PARSE_STRICT)}) {
            JsonValue *root = nullptr;
            const char *end = nullptr;
            int sized = json_parse_length(text, length, flags, &end, &root);
            EXPECT_GE(end, text);
            EXPECT_LE(end, text + length);
            if (flags == 0) {
                EXPECT_EQ(sized, status);
                EXPECT_EQ(end - text, expected_end - prefix.c_str());
                if (status == 0) {
                    EXPECT_EQ(describe(root), describe(expected));
                }
            } else {
                // Only the whole document is valid, and the strict grammar refuses \q and \u12.
                EXPECT_EQ(sized, JSON_ESYNTAX);
            }
            json_free(&root);
            EXPECT_EQ(json_parse_length(text, length, flags, &end, nullptr), sized);
        }
        json_free(&expected);
    }
}

#endif

struct PositionCase {
    const char *text;
    long offset; // where the parse stops
    uint32_t line;
    uint32_t column;
};

TEST(JsonErrorPosition, LinesEndAtLineFeedsAndColumnsCountBytes) {
    const PositionCase cases[] = {
        {"[1, x]", 4, 1, 5},
        {"x", 0, 1, 1},
        {"[1,\r\n x]", 6, 2, 2},
        {"[1,\n\n  x]", 7, 3, 3},
        {"[1,\r\n\r\n\t\"\xC3\xA9\" x]", 12, 3, 6},
        {"[\r x]", 3, 1, 4},
        {"{\"a\":\n1,\r\n\"b\" 2}", 13, 3, 4},
    };
    for (const PositionCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        const char *end = nullptr;
        EXPECT_NE(json_parse(c.text, &end, nullptr), 0);
        EXPECT_EQ(end - c.text, c.offset);
        uint32_t line = 0;
        uint32_t column = 0;
        ASSERT_EQ(json_error_position(c.text, end, &line, &column), 0);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(column, c.column);
    }
    uint32_t line = 7;
    uint32_t column = 7;
    const char *text = "[1]\n";
    EXPECT_EQ(json_error_position(text, text + 4, &line, &column), 0);
    EXPECT_EQ(line, 2u);
    EXPECT_EQ(column, 1u);
    line = column = 7;
    EXPECT_EQ(json_error_position(text + 1, text, &line, &column), JSON_EINVAL);
    EXPECT_EQ(json_error_position(nullptr, text, &line, &column), JSON_EINVAL);
    EXPECT_EQ(json_error_position(text, nullptr, &line, &column), JSON_EINVAL);
    EXPECT_EQ(line, 7u);
    EXPECT_EQ(column, 7u);
}

} // namespace

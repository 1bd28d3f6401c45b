#include "allocation_sweep.h"
#include "json_document.h"
#include "support/memory.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// End offsets in the tables: the whole text, or a position the grammar leaves open.
const long WHOLE = -1;
const long UNCHECKED = -2;

long expected_end(const char *text, long end) {
    return end == WHOLE ? long(strlen(text)) : end;
}

std::string text_of(const JsonValue *value) {
    uint32_t length = 0;
    const char *text = json_text(value, &length);
    return text ? std::string(text, length) : std::string("<none>");
}

std::string nested(const std::string &open, const std::string &inner, const std::string &close,
                   int levels) {
    std::string text;
    text.reserve((open.size() + close.size()) * size_t(levels) + inner.size());
    for (int i = 0; i < levels; ++i)
        text += open;
    text += inner;
    for (int i = 0; i < levels; ++i)
        text += close;
    return text;
}

// json_parse_length with flags 0, on a copy of text in a block of exactly its length (no NUL
// behind it: an address sanitizer reports any read past the length), must give what json_parse
// gives for text: the status, the end, the document, and an untouched root for short texts.
void expect_sized_parse_agrees(const std::string &text) {
    SCOPED_TRACE("json_parse_length");
    long live = mem_live_blocks();
    const char *source = text.c_str();
    JsonValue stale{};
    JsonValue *root = &stale;
    const char *end = nullptr;
    int status = json_parse(source, &end, &root);

    std::unique_ptr<char[]> copy(new char[text.size()]);
    memcpy(copy.get(), text.data(), text.size());
    JsonValue *sized_root = &stale;
    const char *sized_end = nullptr;
    EXPECT_EQ(json_parse_length(copy.get(), text.size(), 0, &sized_end, &sized_root), status);
    EXPECT_EQ(sized_end - copy.get(), end - source);
    if (status == 0) {
        EXPECT_EQ(describe(sized_root), describe(root));
        json_free(&sized_root);
        json_free(&root);
    } else {
        EXPECT_EQ(sized_root, root);
    }
    EXPECT_EQ(mem_live_blocks(), live);

    unsigned long calls = mem_allocation_calls();
    EXPECT_EQ(json_parse_length(copy.get(), text.size(), 0, &sized_end, nullptr), status);
    EXPECT_EQ(mem_allocation_calls(), calls) << "validation allocated";
    EXPECT_EQ(sized_end - copy.get(), end - source);
}

// Parses text once building and once validating, checks that both agree, and returns the
// status; nothing may leak and validating may not allocate. json_parse_length must agree.
int parse_both_ways(const std::string &text, long *end_offset) {
    expect_sized_parse_agrees(text);
    const char *source = text.c_str();
    long live = mem_live_blocks();
    JsonValue *root = nullptr;
    const char *end = nullptr;
    int status = json_parse(source, &end, &root);
    *end_offset = end - source;
    if (status == 0) {
        EXPECT_TRUE(root && (json_type(root) == JSON_ARRAY || json_type(root) == JSON_OBJECT));
        json_free(&root);
    } else {
        EXPECT_EQ(root, nullptr);
    }
    EXPECT_EQ(mem_live_blocks(), live);

    const char *validation_end = nullptr;
    unsigned long calls = mem_allocation_calls();
    EXPECT_EQ(json_parse(source, &validation_end, nullptr), status);
    EXPECT_EQ(mem_allocation_calls(), calls) << "validation allocated";
    EXPECT_EQ(validation_end, end);
    return status;
}

struct DocumentCase {
    const char *text;
    int status;
    long end;
};

TEST(JsonParse, DocumentsParseAndValidateAlike) {
    const DocumentCase cases[] = {
        {"[]", 0, WHOLE},
        {"{}", 0, WHOLE},
        {"[ ]", 0, WHOLE},
        {" \t\n\v\f\r[1]", 0, WHOLE},
        {"[\v1\f,\r2\n]", 0, WHOLE},
        {"{\v\"a\"\f:\t1\r}", 0, WHOLE},
        {"{ \"a\" : [1, {\"b\": null}] , \"c\":\"d\" }", 0, WHOLE},
        {"[null,true,false,\"\\u00e9\",-0.0E-0,[],{}]", 0, WHOLE},
        {"[1] trailing", 0, 3},
        {"{\"a\":1}}", 0, 7},
        {"[]]", 0, 2},
        // Texts too short to hold a document; the end stays at the text.
        {"", JSON_ESYNTAX, 0},
        {"[", JSON_ESYNTAX, 0},
        {" ", JSON_ESYNTAX, 0},
        // The top level must be an array or an object.
        {"\"a\"", JSON_ESYNTAX, 0},
        {"12", JSON_ESYNTAX, 0},
        {"null", JSON_ESYNTAX, 0},
        {"\xEF\xBB\xBF[]", JSON_ESYNTAX, 0},
        {"[1,2", JSON_ESYNTAX, 0},
        {"{\"a\":1", JSON_ESYNTAX, UNCHECKED},
        {"[ ", JSON_ESYNTAX, 0},
        // Arrays: the end is behind the last complete item or where the item failed.
        {"[1 2]", JSON_ESYNTAX, 2},
        {"[,1]", JSON_ESYNTAX, 1},
        {"[1,]", JSON_ESYNTAX, 3},
        {"[1,,2]", JSON_ESYNTAX, 3},
        {"[1}", JSON_ESYNTAX, 2},
        {"[}", JSON_ESYNTAX, 1},
        {"[nullx]", JSON_ESYNTAX, 5},
        {"[1,[2", JSON_ESYNTAX, 3},
        {"[\"abc", JSON_ESYNTAX, 1},
        {"[\"a\\", JSON_ESYNTAX, 4},
        {"[\"a\tb\"]", JSON_ESYNTAX, 3},
        {"[\"\\udc00\"]", JSON_ESYNTAX, 2},
        // Objects.
        {"{\"a\" 1}", JSON_ESYNTAX, 4},
        {"{\"a\":}", JSON_ESYNTAX, 5},
        {"{a:1}", JSON_ESYNTAX, 1},
        {"{'a':1}", JSON_ESYNTAX, 1},
        {"{\"a\":1 \"b\":2}", JSON_ESYNTAX, 6},
        {"{,}", JSON_ESYNTAX, 1},
        {"{\"a\":1,}", JSON_ESYNTAX, 7},
        {"{\"abc", JSON_ESYNTAX, 5},
        {"{\"a\":\"b", JSON_ESYNTAX, 5},
        {"{\"a\":[1}", JSON_ESYNTAX, 7},
    };
    for (const DocumentCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        long end = 0;
        EXPECT_EQ(parse_both_ways(c.text, &end), c.status);
        if (c.end != UNCHECKED) {
            EXPECT_EQ(end, expected_end(c.text, c.end));
        }
    }
}

TEST(JsonParse, ShortTextLeavesTheRootAlone) {
    JsonValue stale{};
    for (const char *text : {"", "["}) {
        JsonValue *root = &stale;
        const char *end = nullptr;
        EXPECT_EQ(json_parse(text, &end, &root), JSON_ESYNTAX);
        EXPECT_EQ(end, text);
        EXPECT_EQ(root, &stale);
    }
    JsonValue *root = &stale;
    const char *end = nullptr;
    EXPECT_EQ(json_parse("[ 1", &end, &root), JSON_ESYNTAX);
    EXPECT_EQ(root, nullptr) << "a longer text sets the root to null";
}

TEST(JsonParseValue, NumbersKeepTheirTextByteForByte) {
    for (const char *number : {"0", "-0", "0.5", "1e5", "1E+5", "1.5e-3", "0e5", "-0.0E-0",
                               "-12.340e-007", "123456789012345678901234567890"}) {
        SCOPED_TRACE(number);
        std::string document = std::string("[") + number + "]";
        JsonValue *root = nullptr;
        const char *end = nullptr;
        ASSERT_EQ(json_parse(document.c_str(), &end, &root), 0);
        JsonValue *item = json_array_item(root, 0);
        EXPECT_EQ(json_type(item), JSON_NUMBER);
        EXPECT_EQ(text_of(item), number);
        json_free(&root);
    }
}

struct PrefixCase {
    const char *text;
    int status;
    long end; // where the value stops
};

TEST(JsonParseValue, StopsAtTheFirstByteThatCannotContinue) {
    const PrefixCase cases[] = {
        {"12abc", JSON_NUMBER, 2},
        {"0x1", JSON_NUMBER, 1},
        {"1.5.2", JSON_NUMBER, 3},
        {"-0-1", JSON_NUMBER, 2},
        {"1e5e5", JSON_NUMBER, 3},
        {" 7 ", JSON_NUMBER, 2},
        {"nullx", JSON_NULL, 4},
        {"truely", JSON_TRUE, 4},
        {"false0", JSON_FALSE, 5},
        {"\t null", JSON_NULL, 6},
        {"\"a\"b", JSON_STRING, 3},
        {"[1] ", JSON_ARRAY, 3},
        // No value at all: the end is the first byte behind the white space.
        {"01", JSON_NOMATCH, 0},
        {" -01", JSON_NOMATCH, 1},
        {"-", JSON_NOMATCH, 0},
        {"+1", JSON_NOMATCH, 0},
        {".5", JSON_NOMATCH, 0},
        {"1.", JSON_NOMATCH, 0},
        {"1.e5", JSON_NOMATCH, 0},
        {"1e", JSON_NOMATCH, 0},
        {"1e+", JSON_NOMATCH, 0},
        {"-.5", JSON_NOMATCH, 0},
        {"nul", JSON_NOMATCH, 0},
        {"True", JSON_NOMATCH, 0},
        {"  fals", JSON_NOMATCH, 2},
        {"", JSON_NOMATCH, 0},
        {"\"open", JSON_NOMATCH, 0},
        {" [1,", JSON_NOMATCH, 1},
        {"}", JSON_NOMATCH, 0},
    };
    for (const PrefixCase &c : cases) {
        SCOPED_TRACE(c.text);
        expect_sized_parse_agrees(std::string("[") + c.text + "]");
        JsonValue *value = nullptr;
        const char *end = nullptr;
        EXPECT_EQ(json_parse_value(c.text, &end, &value), c.status);
        EXPECT_EQ(end - c.text, c.end);
        bool number_or_literal = c.status == JSON_NUMBER || c.status == JSON_NULL ||
                                 c.status == JSON_TRUE || c.status == JSON_FALSE;
        if (number_or_literal) {
            EXPECT_EQ(text_of(value), std::string(json_skip_space(c.text), end));
        }
        if (c.status == JSON_NOMATCH) {
            EXPECT_EQ(value, nullptr);
        }
        json_free(&value);
        const char *validation_end = nullptr;
        EXPECT_EQ(json_parse_value(c.text, &validation_end, nullptr), c.status);
        EXPECT_EQ(validation_end, end);
    }
}

TEST(JsonParseContainer, AContainerLeftOpenIsNoMatchEndingBehindItsLastCompletePart) {
    // Read by the container parsers themselves, which no caller overrules: json_parse and
    // json_parse_value set the end of a NOMATCH anew.
    const struct {
        int (*parse)(const char *, const char **, JsonValue **);
        const char *text;
        int status;
        long end;
    } cases[] = {
        {json_parse_array, "[ ", JSON_NOMATCH, 0},
        {json_parse_array, "[\n\t", JSON_NOMATCH, 0},
        {json_parse_array, "[", JSON_NOMATCH, 0},
        {json_parse_array, "[1,", JSON_NOMATCH, 2},
        {json_parse_array, "[[1],", JSON_NOMATCH, 4},
        {json_parse_array, "[1 ", JSON_ESYNTAX, 2},
        {json_parse_array, " [1]", JSON_NOMATCH, 0},
        {json_parse_object, "{\"a\":1,", JSON_NOMATCH, 6},
        {json_parse_object, "{ ", JSON_ESYNTAX, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        long live = mem_live_blocks();
        JsonValue *value = nullptr;
        const char *end = nullptr;
        EXPECT_EQ(c.parse(c.text, &end, &value), c.status);
        EXPECT_EQ(end - c.text, c.end);
        EXPECT_EQ(value, nullptr);
        EXPECT_EQ(mem_live_blocks(), live);
        EXPECT_EQ(c.parse(c.text, &end, nullptr), c.status);
        EXPECT_EQ(end - c.text, c.end);
    }
}

TEST(JsonParseValue, MalformedNumbersAndLiteralsAreSyntaxErrorsAsItems) {
    for (const char *item : {"01", "-01", "-", "+1", ".5", "1.", "1e", "1e+", "12abc", "nullx",
                             "nul", "True", "NULL", "falsey"}) {
        SCOPED_TRACE(item);
        long end = 0;
        EXPECT_EQ(parse_both_ways(std::string("[") + item + "]", &end), JSON_ESYNTAX);
    }
}

struct StringCase {
    const char *text;
    std::string decoded;
};

TEST(JsonString, EscapesAndBytesDecode) {
    const StringCase cases[] = {
        {"\"\"", ""},
        {"\"plain text\"", "plain text"},
        {"\"\\q\\/\\\"\\\\\"", "q/\"\\"},
        {"\"\\b\\f\\n\\r\\t\"", "\b\f\n\r\t"},
        {"\"\\u00e9\\u00C9\"", "\xC3\xA9\xC3\x89"},
        {"\"\\u0041\\u007f\\u0800\\uffff\"", "A\x7F\xE0\xA0\x80\xEF\xBF\xBF"},
        {"\"\\ud83d\\ude00\"", "\xF0\x9F\x98\x80"},
        {"\"\\ud840\\udc00\"", "\xF0\xA0\x80\x80"},
        {"\"\\uDBFF\\uDFFF\"", "\xF4\x8F\xBF\xBF"},
        {"\"\\u12\"", "u12"},
        {"\"\\u\"", "u"},
        {"\"\\uzzzz\\U0041\"", "uzzzzU0041"},
        {"\"\\u12345\"", "\xE1\x88\xB4"
                         "5"},
        {"\"\\u0000\"", std::string(1, '\0')},
        {"\"a\\u0000b\"", std::string("a\0b", 3)},
        {"\"\xC3\xA9\xFF\x80\"", "\xC3\xA9\xFF\x80"},
        {"\"\\\xC3\xA9\"", "\xC3\xA9"},
        {"\"x\\u00e9y\\nz\"", "x\xC3\xA9y\nz"},
    };
    for (const StringCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        expect_sized_parse_agrees(std::string("[") + c.text + "]");
        JsonValue *value = nullptr;
        const char *end = nullptr;
        EXPECT_EQ(json_parse_string(c.text, 1, &end, &value), JSON_STRING);
        EXPECT_EQ(end, c.text + strlen(c.text));
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(json_length(value), c.decoded.size());
        EXPECT_EQ(text_of(value), c.decoded);
        EXPECT_EQ(json_text(value, nullptr)[c.decoded.size()], '\0');
        json_free(&value);
        EXPECT_EQ(json_parse_string(c.text, 1, &end, nullptr), JSON_STRING);
    }
}

struct StringFailure {
    const char *text;
    int status;
    long end;
};

TEST(JsonString, RefusedStringsReportWhereTheyStopped) {
    const StringFailure cases[] = {
        {"\"\\udc00\"", JSON_ESYNTAX, 1},
        {"\"ab\\ud800x\"", JSON_ESYNTAX, 3},
        {"\"\\ud800\"", JSON_ESYNTAX, 1},
        {"\"\\ud800\\u0041\"", JSON_ESYNTAX, 1},
        {"\"\\ud800\\udbff\"", JSON_ESYNTAX, 1},
        {"\"\\ud800\\udc0\"", JSON_ESYNTAX, 1},
        {"\"a\tb\"", JSON_ESYNTAX, 2},
        {"\"a\nb\"", JSON_ESYNTAX, 2},
        {"\"\x01\"", JSON_ESYNTAX, 1},
        {"\"a\x7F\"", JSON_ESYNTAX, 2},
        {"\"a\\\tb\"", JSON_ESYNTAX, 3},
        {"\"a\\\x7F\"", JSON_ESYNTAX, 3},
        {"\"ab\\", JSON_ESYNTAX, 4},
        {"\"abc", JSON_NOMATCH, 4},
        {"abc\"", JSON_NOMATCH, 0},
        {"", JSON_NOMATCH, 0},
    };
    for (const StringFailure &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        expect_sized_parse_agrees(std::string("[") + c.text + "]");
        long live = mem_live_blocks();
        JsonValue *value = nullptr;
        const char *end = nullptr;
        EXPECT_EQ(json_parse_string(c.text, 1, &end, &value), c.status);
        EXPECT_EQ(end - c.text, c.end);
        EXPECT_EQ(value, nullptr);
        EXPECT_EQ(mem_live_blocks(), live);
        EXPECT_EQ(json_parse_string(c.text, 1, &end, nullptr), c.status);
        EXPECT_EQ(end - c.text, c.end);
    }
}

struct BareCase {
    const char *text;
    int status;
    const char *decoded; // when status is JSON_STRING
    long end;
};

TEST(JsonString, BareModeTakesKeysWithOrWithoutQuotes) {
    const BareCase cases[] = {
        {"abc", JSON_STRING, "abc", 3},         {"\"abc\"", JSON_STRING, "abc", 5},
        {"\"abc\"rest", JSON_STRING, "abc", 5}, {"\"abc", JSON_STRING, "abc", 4},
        {"\"\"", JSON_STRING, "", 2},           {"a\\nb", JSON_STRING, "a\nb", 4},
        {"a\\\"b", JSON_STRING, "a\"b", 4},     {"\\u00e9", JSON_STRING, "\xC3\xA9", 6},
        {"", JSON_NOMATCH, nullptr, 0},         {"\"", JSON_NOMATCH, nullptr, 1},
        {"ab\"c", JSON_ESYNTAX, nullptr, 2},    {"abc\"", JSON_ESYNTAX, nullptr, 3},
        {"a\tb", JSON_ESYNTAX, nullptr, 1},     {"ab\\", JSON_ESYNTAX, nullptr, 3},
    };
    for (const BareCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        JsonValue *value = nullptr;
        const char *end = nullptr;
        EXPECT_EQ(json_parse_string(c.text, 0, &end, &value), c.status);
        EXPECT_EQ(end - c.text, c.end);
        if (c.decoded) {
            EXPECT_EQ(text_of(value), c.decoded);
        } else {
            EXPECT_EQ(value, nullptr);
        }
        json_free(&value);
        EXPECT_EQ(json_parse_string(c.text, 0, &end, nullptr), c.status);
    }
}

struct EscapeCase {
    const char *text;
    int status; // 0: decoded
    uint32_t code_point;
    long end;
};

TEST(JsonString, UnicodeEscapesDecodeAndPair) {
    const EscapeCase cases[] = {
        {"x", JSON_NOMATCH, 0, 0},
        {"\\n", JSON_NOMATCH, 0, 0},
        {"\\u12", JSON_NOMATCH, 0, 2},
        {"\\u12g4", JSON_NOMATCH, 0, 2},
        {"\\u0041", 0, 0x41, 6},
        {"\\uAbCd", 0, 0xABCD, 6},
        {"\\u12345", 0, 0x1234, 6},
        {"\\ud83d\\ude00", 0, 0x1F600, 12},
        {"\\udbff\\udfffx", 0, 0x10FFFF, 12},
        {"\\udc00", JSON_ESYNTAX, 0, 6},
        {"\\udbff\\u0041", JSON_ESYNTAX, 0, 6},
    };
    for (const EscapeCase &c : cases) {
        SCOPED_TRACE(c.text);
        const char *end = nullptr;
        uint32_t code_point = 0;
        EXPECT_EQ(json_parse_unicode_escape(c.text, &end, &code_point), c.status);
        EXPECT_EQ(end - c.text, c.end);
        if (c.status == 0) {
            EXPECT_EQ(code_point, c.code_point);
        }
    }
}

TEST(JsonString, Utf8EncodingAtTheLengthBoundaries) {
    const struct {
        uint32_t code_point;
        const char *bytes;
        int count;
    } cases[] = {
        {0, "", 1},
        {0x7F, "\x7F", 1},
        {0x80, "\xC2\x80", 2},
        {0x7FF, "\xDF\xBF", 2},
        {0x800, "\xE0\xA0\x80", 3},
        {0xFFFF, "\xEF\xBF\xBF", 3},
        {0x10000, "\xF0\x90\x80\x80", 4},
        {0x10FFFF, "\xF4\x8F\xBF\xBF", 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code_point);
        char output[5];
        memset(output, 0x55, sizeof output);
        ASSERT_EQ(json_utf8_encode(c.code_point, output), c.count);
        EXPECT_EQ(memcmp(output, c.bytes, size_t(c.count)), 0);
        EXPECT_EQ(output[c.count], '\0');
    }
}

TEST(JsonParse, WhiteSpaceIsExactlyTheSixBytes) {
    for (int byte = 0; byte < 256; ++byte) {
        const char text[] = {char(byte), 'x', '\0'};
        bool space = byte == ' ' || (byte >= '\t' && byte <= '\r');
        EXPECT_EQ(json_skip_space(text), text + (space ? 1 : 0)) << "byte " << byte;
    }
}

// Strings, digits and blanks are scanned eight bytes at a time: a stopping byte must be found
// at every offset of a word, and bytes from 0x80 up must not stop a run.

// A string value read with json_parse_value: its status, where it stopped, its decoded text.
struct StringRead {
    int status;
    long end;
    std::string text;
};

StringRead read_string(const std::string &source) {
    expect_sized_parse_agrees("[" + source + "]");
    JsonValue *value = nullptr;
    const char *end = nullptr;
    int status = json_parse_value(source.c_str(), &end, &value);
    StringRead read{status, long(end - source.c_str()), value ? text_of(value) : ""};
    json_free(&value);
    return read;
}

TEST(JsonString, LongStringsStopAtTheRightByteAtEveryOffset) {
    const std::string high = "\xC3\xA9\xFF\x80"; // plain content like any letter
    for (size_t offset = 0; offset < 20; ++offset) {
        SCOPED_TRACE(offset);
        std::string head;
        for (size_t i = 0; i < offset; ++i)
            head += i % 3 == 0 ? high[i % 4] : char('a' + i);
        std::string tail = "bcdefghij";

        StringRead closed = read_string("\"" + head + "\"" + tail);
        EXPECT_EQ(closed.status, JSON_STRING);
        EXPECT_EQ(closed.end, long(offset + 2));
        EXPECT_EQ(closed.text, head);

        StringRead escaped = read_string("\"" + head + "\\n" + tail + "\\\"" + tail + "\"");
        EXPECT_EQ(escaped.status, JSON_STRING);
        EXPECT_EQ(escaped.text, head + "\n" + tail + "\"" + tail);

        for (char control : {'\x01', '\x1F', '\x7F'}) {
            StringRead refused = read_string("\"" + head + control + tail + "\"");
            EXPECT_EQ(refused.status, JSON_ESYNTAX);
            EXPECT_EQ(refused.end, long(offset + 1));
        }
        StringRead unterminated = read_string("\"" + head);
        EXPECT_EQ(unterminated.status, JSON_NOMATCH);
    }
}

TEST(JsonParseValue, LongDigitRunsStopAtTheFirstOtherByte) {
    for (size_t count = 1; count < 20; ++count) {
        std::string digits;
        for (size_t i = 0; i < count; ++i)
            digits += char('1' + i % 9);
        // Neighbours of the digits in the byte order, and bytes that carry when 6 is added.
        for (char after : {'/', ':', ' ', 'x', '\xFA', '\xFF', '\0'}) {
            SCOPED_TRACE(testing::PrintToString(digits + after));
            std::string source = digits + "." + digits + "e-" + digits + after;
            if (after != '\0') expect_sized_parse_agrees("[" + source + "]");
            JsonValue *value = nullptr;
            const char *end = nullptr;
            EXPECT_EQ(json_parse_value(source.c_str(), &end, &value), JSON_NUMBER);
            EXPECT_EQ(end, source.c_str() + 3 * count + 3);
            if (value) {
                EXPECT_EQ(text_of(value), digits + "." + digits + "e-" + digits);
            }
            json_free(&value);
        }
    }
}

TEST(JsonParse, LongBlankRunsAndOtherWhiteSpaceAreSkipped) {
    for (size_t first = 0; first < 20; ++first) {
        for (size_t second : {0, 1, 7, 8, 9, 17}) {
            std::string text = std::string(first, ' ') + "\t" + std::string(second, ' ') + "\n";
            for (const char *stop : {"x", "\xA0", "\x80", ""}) {
                std::string source = text + stop;
                expect_sized_parse_agrees(text + "[1" + source + "]");
                EXPECT_EQ(json_skip_space(source.c_str()), source.c_str() + text.size())
                    << first << " " << second << " " << testing::PrintToString(source);
            }
        }
    }
}

TEST(JsonParse, TextsCrossingAPageBoundaryReadAlike) {
    // Near the end of a page the scanners go byte by byte; the result must not change.
    alignas(4096) static char pages[2 * 4096];
    const std::string document = "[\"abcdefghij\\tklmnopqrstu\", 12345678901234567890,  "
                                 "            true]";
    for (size_t start = 4096 - document.size() - 1; start < 4096; ++start) {
        SCOPED_TRACE(start);
        memset(pages, 'z', sizeof pages);
        memcpy(pages + start, document.c_str(), document.size() + 1);
        JsonValue *root = nullptr;
        const char *end = nullptr;
        ASSERT_EQ(json_parse(pages + start, &end, &root), 0);
        EXPECT_EQ(end, pages + start + document.size());
        EXPECT_EQ(text_of(json_array_item(root, 0)), "abcdefghij\tklmnopqrstu");
        EXPECT_EQ(text_of(json_array_item(root, 1)), "12345678901234567890");
        EXPECT_EQ(json_type(json_array_item(root, 2)), JSON_TRUE);
        json_free(&root);
    }
}

TEST(JsonParse, NestingUpToTheLimitIsAccepted) {
    const struct {
        std::string text;
        int status;
    } cases[] = {
        {nested("[", "", "]", JSON_MAX_DEPTH), 0},
        {nested("[", "", "]", JSON_MAX_DEPTH + 1), JSON_ESYNTAX},
        {nested("{\"a\":", "1", "}", JSON_MAX_DEPTH), 0},
        {nested("{\"a\":", "1", "}", JSON_MAX_DEPTH + 1), JSON_ESYNTAX},
        {nested("[{\"a\":", "1", "}]", JSON_MAX_DEPTH / 2), 0},
        {nested("[{\"a\":", "[]", "}]", JSON_MAX_DEPTH / 2), JSON_ESYNTAX},
    };
    static_assert(JSON_MAX_DEPTH == 1000);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.size());
        long end = 0;
        EXPECT_EQ(parse_both_ways(c.text, &end), c.status);
    }
    JsonValue *value = nullptr;
    const char *end = nullptr;
    EXPECT_EQ(json_parse_value(nested("[", "", "]", JSON_MAX_DEPTH + 1).c_str(), &end, &value),
              JSON_ESYNTAX);
    EXPECT_EQ(value, nullptr);
}

TEST(JsonParse, AMillionLevelsAreRefusedWithoutExhaustingTheStack) {
    const int levels = 1000000;
    const std::string texts[] = {std::string(levels, '['), nested("[", "", "]", levels),
                                 nested("{\"a\":", "", "}", levels)};
    for (const std::string &text : texts) {
        long end = 0;
        EXPECT_EQ(parse_both_ways(text, &end), JSON_ESYNTAX);
    }
}

TEST(JsonParse, OutOfMemoryReleasesEverything) {
    std::string many_members = "{";
    std::string many_items = "[";
    for (int i = 0; i < 40; ++i) {
        many_members += (i ? ",\"m" : "\"m") + std::to_string(39 - i) + "\":" + std::to_string(i);
        many_items += (i ? ",\"" : "\"") + std::string(size_t(i), 'x') + "\"";
    }
    many_members += "}";
    many_items += "]";
    const std::string documents[] = {
        "[[[1]],[[2,[3]]],[]]",
        "{\"s\":\"a\\u00e9\\n\",\"n\":-1.5e3,\"l\":[null,true,false],\"o\":{\"x\":{}}}",
        "[\"\\ud83d\\ude00\",\"\",0]",
        many_members,
        many_items,
    };
    for (const std::string &document : documents) {
        SCOPED_TRACE(document);
        unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
            JsonValue stale{};
            JsonValue *root = &stale;
            const char *end = nullptr;
            int status = json_parse(document.c_str(), &end, &root);
            if (nth == 0) {
                EXPECT_EQ(status, 0);
                json_free(&root);
                return;
            }
            EXPECT_EQ(status, JSON_ENOMEM) << "allocation " << nth;
            EXPECT_EQ(root, nullptr);
        });
        EXPECT_GT(runs, 0u) << "no allocation was made to fail";
    }
}

TEST(JsonParse, OutOfMemoryForSingleValues) {
    for (const char *text : {"\"a\\tb\"", "-12.5", "true", "[1,\"x\"]", "{\"k\":[null]}"}) {
        SCOPED_TRACE(text);
        sweep_allocation_failures([&](unsigned long nth) {
            JsonValue *value = nullptr;
            const char *end = nullptr;
            int status = json_parse_value(text, &end, &value);
            if (nth == 0) {
                EXPECT_GT(status, JSON_NOMATCH);
                EXPECT_LT(status, JSON_ENOMEM);
                json_free(&value);
                return;
            }
            EXPECT_EQ(status, JSON_ENOMEM);
            EXPECT_EQ(value, nullptr);
        });
    }
}

} // namespace

namespace {

// A number's length is a 32-bit field: a number longer than its bound (4 GiB - 64 bytes, as for
// strings) is refused as too large for memory, never cut to the low 32 bits of its length.
TEST(JsonParseValue, NumbersLongerThanTheLengthFieldAreRefusedNotCut) {
    std::string digits(size_t(UINT32_MAX) - 63, '7');
    JsonValue *value = nullptr;
    const char *end = nullptr;
    long live = mem_live_blocks();
    EXPECT_EQ(json_parse_value(digits.c_str(), &end, &value), JSON_ENOMEM);
    EXPECT_EQ(end, digits.c_str() + digits.size());
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(mem_live_blocks(), live);
}

} // namespace

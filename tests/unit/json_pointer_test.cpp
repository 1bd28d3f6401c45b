#include "json_document.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PointerCase {
    const char *pointer;
    int status;
    const char *found = nullptr; // the value written on one line, when status is 0
};

// The document of the examples of RFC 6901, with a few members of our own.
const char *const example = R"({
    "foo": ["bar", "baz"], "": 0, "a/b": 1, "c%d": 2, "e^f": 3, "g|h": 4, "i\\j": 5,
    "k\"l": 6, " ": 7, "m~n": 8,
    "deep": {"list": [[10, 11], {"~/": [12]}]}, "a": "only a", "a\u0000b": "a, zero, b",
    "zero": [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], "twice": "first", "twice": "last"})";

class JsonPointer : public testing::TestWithParam<PointerCase> {};

TEST_P(JsonPointer, FindsTheValueItNames) {
    Document document(example);
    JsonValue *found = document.root; // overwritten either way
    EXPECT_EQ(json_pointer_get(&found, document.root, GetParam().pointer), GetParam().status);
    if (GetParam().status == 0) {
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(written(found), GetParam().found);
    } else {
        EXPECT_EQ(found, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pointers, JsonPointer,
    testing::Values(
        // RFC 6901's examples ("" is the whole document, tested on its own).
        PointerCase{"/foo", 0, R"([ "bar", "baz" ])"}, PointerCase{"/foo/0", 0, R"("bar")"},
        PointerCase{"/", 0, "0"}, PointerCase{"/a~1b", 0, "1"}, PointerCase{"/c%d", 0, "2"},
        PointerCase{"/e^f", 0, "3"}, PointerCase{"/g|h", 0, "4"}, PointerCase{"/i\\j", 0, "5"},
        PointerCase{"/k\"l", 0, "6"}, PointerCase{"/ ", 0, "7"}, PointerCase{"/m~0n", 0, "8"},
        // Deeper steps, escapes that decode into each other, keys that share a prefix.
        PointerCase{"/foo/1", 0, R"("baz")"}, PointerCase{"/deep/list/0/1", 0, "11"},
        PointerCase{"/deep/list/1/~0~1/0", 0, "12"}, PointerCase{"/a", 0, R"("only a")"},
        PointerCase{"/zero/10", 0, "10"}, PointerCase{"/zero/0", 0, "0"},
        // A key held twice: the one written last, as json_object_find finds it.
        PointerCase{"/twice", 0, R"("last")"},
        // Nothing there.
        PointerCase{"/foo/2", JSON_NOMATCH}, PointerCase{"/foo/-", JSON_NOMATCH},
        PointerCase{"/foo/01", JSON_NOMATCH}, PointerCase{"/foo/00", JSON_NOMATCH},
        PointerCase{"/foo/", JSON_NOMATCH}, PointerCase{"/foo/1x", JSON_NOMATCH},
        PointerCase{"/foo/+1", JSON_NOMATCH}, PointerCase{"/foo/-1", JSON_NOMATCH},
        PointerCase{"/zero/12", JSON_NOMATCH},
        PointerCase{"/foo/18446744073709551617", JSON_NOMATCH},
        PointerCase{"/foo/0/0", JSON_NOMATCH}, PointerCase{"//", JSON_NOMATCH},
        PointerCase{"/missing", JSON_NOMATCH}, PointerCase{"/a~1", JSON_NOMATCH},
        PointerCase{"/a~0b", JSON_NOMATCH}, PointerCase{"/m~n", JSON_ESYNTAX},
        PointerCase{"/ab", JSON_NOMATCH}, PointerCase{"/deep/list/1/~1~0", JSON_NOMATCH},
        // Not a pointer, whatever the document holds.
        PointerCase{"foo", JSON_ESYNTAX}, PointerCase{"#/foo", JSON_ESYNTAX},
        PointerCase{"/foo~", JSON_ESYNTAX}, PointerCase{"/a~2b", JSON_ESYNTAX},
        PointerCase{"/missing/~x", JSON_ESYNTAX}, PointerCase{"/foo/0/~", JSON_ESYNTAX}));

TEST(JsonPointer, TheEmptyPointerIsTheRootAndBadArgumentsFindNothing) {
    Document document(example);
    JsonValue *found = nullptr;
    EXPECT_EQ(json_pointer_get(&found, document.root, ""), 0);
    EXPECT_EQ(found, document.root);
    EXPECT_EQ(json_pointer_get(&found, document.root, nullptr), JSON_ESYNTAX);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(json_pointer_get(&found, nullptr, "/foo"), JSON_NOMATCH);
    EXPECT_EQ(json_pointer_get(&found, nullptr, "foo"), JSON_ESYNTAX);
    JsonValue *scalar = nullptr;
    const char *end = nullptr;
    ASSERT_EQ(json_parse_value("7", &end, &scalar), JSON_NUMBER);
    EXPECT_EQ(json_pointer_get(&found, scalar, ""), 0);
    EXPECT_EQ(found, scalar);
    EXPECT_EQ(json_pointer_get(&found, scalar, "/0"), JSON_NOMATCH);
    json_free(&scalar);
}

TEST(JsonPointer, FindsEveryMemberOfALargeObjectAndOfAnUnsortedOne) {
    std::string text = "{";
    for (int i = 0; i < 300; ++i)
        text += (i ? ", \"" : "\"") + std::to_string(i * 7 % 300) +
                "\": " + std::to_string(i * 7 % 300);
    Document document(text + "}");
    // Appended members wait unsorted: a binary search would miss them.
    const char *end = nullptr;
    JsonValue *key = nullptr, *value = nullptr;
    ASSERT_EQ(json_parse_string("\"0a\"", 1, &end, &key), JSON_STRING);
    ASSERT_EQ(json_parse_value("-1", &end, &value), JSON_NUMBER);
    ASSERT_EQ(json_object_add(document.object(), key, value), 0);
    for (int i = 0; i < 300; ++i) {
        std::string pointer = "/" + std::to_string(i);
        JsonValue *found = nullptr;
        ASSERT_EQ(json_pointer_get(&found, document.root, pointer.c_str()), 0) << pointer;
        EXPECT_EQ(written(found), std::to_string(i));
    }
    JsonValue *found = nullptr;
    ASSERT_EQ(json_pointer_get(&found, document.root, "/0a"), 0);
    EXPECT_EQ(written(found), "-1");
    json_object_sort(document.object());
    ASSERT_EQ(json_pointer_get(&found, document.root, "/0a"), 0);
    EXPECT_EQ(json_pointer_get(&found, document.root, "/300"), JSON_NOMATCH);
}

} // namespace

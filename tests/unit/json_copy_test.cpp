#include "allocation_sweep.h"
#include "json_document.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every node of a document in document order (keys before their values).
void collect_nodes(const JsonValue *value, std::vector<const JsonValue *> *nodes) {
    nodes->push_back(value);
    JsonValue *second = nullptr;
    JsonCursor cursor = nullptr;
    for (JsonValue *child = json_first(value, &second, &cursor); child;
         child = json_next(value, &second, &cursor)) {
        collect_nodes(child, nodes);
        if (second) collect_nodes(second, nodes);
    }
}

class JsonCopy : public testing::TestWithParam<const char *> {};

TEST_P(JsonCopy, IsAnEqualDocumentOfItsOwnBlocks) {
    JsonValue *value = nullptr;
    const char *end = nullptr;
    json_parse_value(GetParam(), &end, &value);
    ASSERT_NE(value, nullptr);
    JsonValue *copy = nullptr;
    ASSERT_EQ(json_copy(&copy, value), 0);
    EXPECT_EQ(describe(copy), describe(value));
    EXPECT_EQ(written(copy), written(value));
    EXPECT_EQ(json_compare(copy, value), 0);
    std::vector<const JsonValue *> originals, copies;
    collect_nodes(value, &originals);
    collect_nodes(copy, &copies);
    ASSERT_EQ(copies.size(), originals.size());
    for (size_t i = 0; i < copies.size(); ++i) {
        EXPECT_NE(copies[i], originals[i]) << i;
        const char *text = json_text(copies[i], nullptr);
        if (text && json_type(copies[i]) & (JSON_STRING | JSON_NUMBER)) {
            EXPECT_NE(text, json_text(originals[i], nullptr)) << i;
        }
    }
    json_free(&value);
    EXPECT_EQ(written(copy), written(copy)); // still whole once the original is gone
    json_free(&copy);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonCopy,
    testing::Values("[]", "{}", "0", "-1.50e+3", "null", "true", "false", R"("")", R"("a\u0000b")",
                    R"([1, "two", [true, null], {"k": {}}, false])",
                    R"({"b": [{"c": [[], [1, [2, [3]]]]}], "a": "x", "a": "y", "": -0})"));

TEST(JsonCopy, KeepsTheStoredOrderAndTheFlagOfAnUnsortedObject) {
    Document document(R"({"m": 1})");
    JsonValue *sorted_copy = nullptr;
    ASSERT_EQ(json_copy(&sorted_copy, document.root), 0);
    EXPECT_EQ(static_cast<const JsonObject *>(sorted_copy->payload)->flags, 0u);
    json_free(&sorted_copy);
    const char *end = nullptr;
    JsonValue *key = nullptr, *value = nullptr;
    ASSERT_EQ(json_parse_string("\"a\"", 1, &end, &key), JSON_STRING);
    ASSERT_EQ(json_parse_value("2", &end, &value), JSON_NUMBER);
    ASSERT_EQ(json_object_add(document.object(), key, value), 0);
    JsonValue *copy = nullptr;
    ASSERT_EQ(json_copy(&copy, document.root), 0);
    const JsonObject *object = static_cast<const JsonObject *>(copy->payload);
    EXPECT_EQ(object->flags, uint32_t(JSON_NEEDS_SORT));
    EXPECT_EQ(written(copy), R"({ "m": 1, "a": 2 })");
    json_free(&copy);
}

TEST(JsonCopy, OutOfMemoryLeavesNothingAndANullCopy) {
    Document document(R"({"a": [1, {"b": "text"}, []], "c": null})");
    unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
        JsonValue *copy = document.root; // overwritten either way
        int status = json_copy(&copy, document.root);
        if (nth == 0) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(json_compare(copy, document.root), 0);
            json_free(&copy);
        } else {
            EXPECT_EQ(status, JSON_ENOMEM) << "allocation " << nth;
            EXPECT_EQ(copy, nullptr);
        }
    });
    // 10 nodes (keys included), 3 cells, 3 members and 3 vectors.
    EXPECT_EQ(runs, 19u);
    JsonValue *copy = document.root;
    EXPECT_EQ(json_copy(&copy, nullptr), JSON_NOMATCH);
    EXPECT_EQ(copy, nullptr);
}

struct CompareCase {
    const char *a;
    const char *b;
    int status;
};

class JsonCompare : public testing::TestWithParam<CompareCase> {};

TEST_P(JsonCompare, ComparesTypesTextsItemsAndMembers) {
    JsonValue *a = nullptr, *b = nullptr;
    const char *end = nullptr;
    json_parse_value(GetParam().a, &end, &a);
    json_parse_value(GetParam().b, &end, &b);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(json_compare(a, b), GetParam().status);
    EXPECT_EQ(json_compare(b, a), GetParam().status);
    json_free(&a);
    json_free(&b);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, JsonCompare,
    testing::Values(
        // Equal: the same values however written, members in any order of the text.
        CompareCase{"[1, 2]", "[ 1,2 ]", 0},
        CompareCase{R"({"a": 1, "b": [2]})", R"({"b":[2],"a":1})", 0},
        CompareCase{R"("\u00e9")", "\"\xC3\xA9\"", 0}, CompareCase{"[[], {}]", "[[],{}]", 0},
        CompareCase{R"({"a": 1, "a": 1})", R"({"a": 1, "a": 1})", 0},
        // Types.
        CompareCase{"true", "false", JSON_NOMATCH}, CompareCase{"null", "false", JSON_NOMATCH},
        CompareCase{"[]", "{}", JSON_NOMATCH}, CompareCase{R"("1")", "1", JSON_NOMATCH},
        CompareCase{"[null]", "[false]", JSON_NOMATCH},
        // Numbers by their text.
        CompareCase{"1.0", "1", JSON_NOMATCH}, CompareCase{"1e2", "100", JSON_NOMATCH},
        CompareCase{"-0", "0", JSON_NOMATCH}, CompareCase{"[1E2]", "[1e2]", JSON_NOMATCH},
        // Strings by every byte, zero bytes included.
        CompareCase{R"("ab")", R"("abc")", JSON_NOMATCH},
        CompareCase{R"("a\u0000b")", R"("a\u0000c")", JSON_NOMATCH},
        CompareCase{R"("a\u0000")", R"("a")", JSON_NOMATCH},
        // Items in order, and their count.
        CompareCase{"[1, 2]", "[2, 1]", JSON_NOMATCH},
        CompareCase{"[1, 2]", "[1, 2, 3]", JSON_NOMATCH},
        CompareCase{"[[1], [2]]", "[[1], [3]]", JSON_NOMATCH},
        // Members: keys, values, duplicates, depth.
        CompareCase{R"({"a": 1})", R"({"b": 1})", JSON_NOMATCH},
        CompareCase{R"({"a": 1})", R"({"a": 2})", JSON_NOMATCH},
        CompareCase{R"({"a\u0000x": 1})", R"({"a\u0000y": 1})", JSON_NOMATCH},
        CompareCase{R"({"a": 1, "a": 1})", R"({"a": 1})", JSON_NOMATCH},
        CompareCase{R"({"a": 1, "b": 2})", R"({"a": 1, "a": 2})", JSON_NOMATCH},
        CompareCase{R"({"x": [{"y": {"z": [true]}}]})", R"({"x": [{"y": {"z": [null]}}]})",
                    JSON_NOMATCH}));

TEST(JsonCompare, NullIsEqualToNothingAndOnlyDeepWalksAllocate) {
    Document document("[1]");
    EXPECT_EQ(json_compare(document.root, nullptr), JSON_NOMATCH);
    EXPECT_EQ(json_compare(nullptr, document.root), JSON_NOMATCH);
    EXPECT_EQ(json_compare(nullptr, nullptr), JSON_NOMATCH);
    Document shallow(R"({"a": [[[{"b": "c"}]]]})");
    EXPECT_EQ(count_allocations([&] { EXPECT_EQ(json_compare(shallow.root, shallow.root), 0); }),
              0u);
    std::string deep_text = std::string(70, '[') + std::string(70, ']');
    Document deep(deep_text), other(deep_text);
    unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
        EXPECT_EQ(json_compare(deep.root, other.root), nth == 0 ? 0 : JSON_ENOMEM) << nth;
    });
    EXPECT_EQ(runs, 1u);
}

} // namespace

#include "allocation_sweep.h"
#include "json_document.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// The keys of an object in stored order.
std::vector<std::string> keys_of(const JsonValue *object) {
    std::vector<std::string> keys;
    JsonCursor cursor = nullptr;
    for (JsonValue *key = json_first(object, nullptr, &cursor); key;
         key = json_next(object, nullptr, &cursor)) {
        uint32_t length = 0;
        const char *text = json_text(key, &length);
        keys.emplace_back(text, length);
    }
    return keys;
}

bool sorted_and_flag_clear(const Document &document) {
    std::vector<std::string> keys = keys_of(document.root);
    for (size_t i = 1; i < keys.size(); ++i)
        if (strcmp(keys[i - 1].c_str(), keys[i].c_str()) > 0) return false;
    return (document.object()->flags & JSON_NEEDS_SORT) == 0;
}

// What must not change when an edit fails: the values, and the container's vector.
struct Snapshot {
    std::string description;
    uint32_t capacity;
    uint32_t count;
    const void *vector;
};

Snapshot snapshot(const JsonValue *container) {
    if (json_type(container) == JSON_ARRAY) {
        const auto *array = static_cast<const JsonArray *>(container->payload);
        return {describe(container), array->capacity, array->count, array->cells};
    }
    const auto *object = static_cast<const JsonObject *>(container->payload);
    return {describe(container), object->capacity, object->count, object->members};
}

void expect_same(const Snapshot &before, const Snapshot &after, const std::string &context) {
    EXPECT_EQ(after.description, before.description) << context;
    EXPECT_EQ(after.capacity, before.capacity) << context;
    EXPECT_EQ(after.count, before.count) << context;
    EXPECT_EQ(after.vector, before.vector) << context;
}

// Texts of the form "[0, 1, ...]" and "{"k00": 0, ...}" with count entries.
std::string numbers_array(int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        text += i ? ", " : "";
        text += std::to_string(i);
    }
    return text + "]";
}

std::string numbers_object(int count) {
    std::string text = "{";
    for (int i = 0; i < count; ++i) {
        std::string number = std::to_string(i);
        text += i ? ", " : "";
        text += "\"k" + std::string(i < 10 ? "0" : "") + number + "\": " + number;
    }
    return text + "}";
}

struct ArrayEdit {
    const char *document;
    uint32_t index;
    const char *text; // null: remove
    const char *output;
};

class JsonArraySet : public testing::TestWithParam<ArrayEdit> {};

TEST_P(JsonArraySet, ReplacesAppendsOrRemovesOneItem) {
    Document document(GetParam().document);
    EXPECT_EQ(json_array_set(document.root, GetParam().index, GetParam().text), 0);
    EXPECT_EQ(written(document.root), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Edits, JsonArraySet,
                         testing::Values(ArrayEdit{"[1, 2, 3]", 3, "4", "[ 1, 2, 3, 4 ]"},
                                         ArrayEdit{"[1, 2, 3]", 1, " 7", "[ 1, 7, 3 ]"},
                                         ArrayEdit{"[1, 2, 3]", 1, nullptr, "[ 1, 3 ]"},
                                         ArrayEdit{"[1, 2, 3]", 0, nullptr, "[ 2, 3 ]"},
                                         ArrayEdit{"[1, 2, 3]", 2, nullptr, "[ 1, 2 ]"},
                                         ArrayEdit{"[1]", 0, nullptr, "[  ]"},
                                         ArrayEdit{"[]", 0, "\"abc\"", R"([ "abc" ])"},
                                         ArrayEdit{"[1, [2, 3]]", 1,
                                                   "\n{\"b\": [true], \"a\": null}",
                                                   R"([ 1, { "a": null, "b": [ true ] } ])"},
                                         ArrayEdit{"[1, 2]", 0, "-0.50e+1", "[ -0.50e+1, 2 ]"}));

TEST(JsonArraySet, RejectsTextsThatAreNotExactlyOneValue) {
    const char *texts[] = {"7 ", "",    " ",        "[1,",   "nullx",     "abc",  "'a'",
                           "01", "1 2", "\"a\tb\"", "\"abc", "{\"a\" 1}", "True", "[1]]"};
    Document document("[1, \"two\", [3]]");
    Snapshot before = snapshot(document.root);
    for (const char *text : texts) {
        for (uint32_t index : {0u, 2u, 3u}) {
            EXPECT_EQ(json_array_set(document.root, index, text), JSON_ESYNTAX) << text;
            expect_same(before, snapshot(document.root), text);
        }
    }
    EXPECT_EQ(written(document.root), R"([ 1, "two", [ 3 ] ])");
}

TEST(JsonArraySet, AnIndexPastTheEndIsNoMatchAndChangesNothing) {
    struct Case {
        uint32_t index;
        const char *text;
    } cases[] = {{3, nullptr},      {4, nullptr},          {4, "5"},       {40, "5"},
                 {UINT32_MAX, "5"}, {UINT32_MAX, nullptr}, {4, "not read"}};
    Document document("[1, \"two\", [3]]");
    Snapshot before = snapshot(document.root);
    for (const Case &c : cases) {
        std::string context = std::to_string(c.index) + (c.text ? c.text : " (remove)");
        EXPECT_EQ(json_array_set(document.root, c.index, c.text), JSON_NOMATCH) << context;
        expect_same(before, snapshot(document.root), context);
    }
    Document empty("[]");
    EXPECT_EQ(json_array_set(empty.root, 0, nullptr), JSON_NOMATCH);
    EXPECT_EQ(written(empty.root), "[  ]");
}

TEST(JsonArraySet, ReplacingKeepsTheCellAndRemovingKeepsTheCapacity) {
    Document document(numbers_array(32));
    JsonCell *second_cell = document.array()->cells[1];
    ASSERT_EQ(json_array_set(document.root, 1, "\"one\""), 0);
    EXPECT_EQ(document.array()->cells[1], second_cell);

    JsonCell **cells = document.array()->cells;
    ASSERT_EQ(json_array_set(document.root, 0, nullptr), 0);
    EXPECT_EQ(document.array()->count, 31u);
    EXPECT_EQ(document.array()->capacity, 32u);
    ASSERT_EQ(json_array_set(document.root, 31, "99"), 0); // reuses the freed slot
    EXPECT_EQ(document.array()->capacity, 32u);
    EXPECT_EQ(document.array()->cells, cells);
    EXPECT_EQ(describe(json_array_item(document.root, 0)), "'one'");
    EXPECT_EQ(describe(json_array_item(document.root, 31)), "99");
    ASSERT_EQ(json_array_set(document.root, 32, "100"), 0);
    EXPECT_EQ(document.array()->capacity, 64u);
}

const char *const TWO_MEMBERS = R"({"a": 1, "c": 3})";

struct ObjectEdit {
    const char *key;
    const char *text; // null: remove
    const char *output;
};

class JsonObjectSet : public testing::TestWithParam<ObjectEdit> {};

TEST_P(JsonObjectSet, ReplacesInsertsOrRemovesOneMember) {
    Document document(TWO_MEMBERS);
    EXPECT_EQ(json_object_set(document.root, GetParam().key, GetParam().text), 0);
    EXPECT_EQ(written(document.root), GetParam().output);
    EXPECT_TRUE(sorted_and_flag_clear(document));
}

INSTANTIATE_TEST_SUITE_P(
    Edits, JsonObjectSet,
    testing::Values(ObjectEdit{"b", "2", R"({ "a": 1, "b": 2, "c": 3 })"},
                    ObjectEdit{"a", nullptr, R"({ "c": 3 })"},
                    ObjectEdit{"c", nullptr, R"({ "a": 1 })"},
                    ObjectEdit{"c", "[2, 1]", R"({ "a": 1, "c": [ 2, 1 ] })"},
                    ObjectEdit{"a", "\"x\"", R"({ "a": "x", "c": 3 })"},
                    ObjectEdit{"0", "{}", R"({ "0": {  }, "a": 1, "c": 3 })"},
                    ObjectEdit{"\"b\"", "true", R"({ "a": 1, "b": true, "c": 3 })"},
                    ObjectEdit{"\"\"", "null", R"({ "": null, "a": 1, "c": 3 })"},
                    ObjectEdit{"d\\u00e9", "5", "{ \"a\": 1, \"c\": 3, \"d\xC3\xA9\": 5 }"}));

TEST(JsonObjectSet, RejectsBadKeysAndTextsLeavingTheObjectAsItWas) {
    struct Case {
        const char *key;
        const char *text;
    } cases[] = {
        {"", "1"},        {"x\"y", "1"}, {"\"a\"x", "1"}, {"a\x01", "1"}, {"a\\", "1"},
        {"\\ud800", "1"}, {"b", "2 "},   {"b", ""},       {"b", "[1,"},   {"b", "nullx"},
        {"a", "9 "},      {"a", "{"},    {"c", "\"open"}, {"", ""},
    };
    Document document(TWO_MEMBERS);
    Snapshot before = snapshot(document.root);
    for (const Case &c : cases) {
        EXPECT_EQ(json_object_set(document.root, c.key, c.text), JSON_ESYNTAX)
            << c.key << " / " << c.text;
        expect_same(before, snapshot(document.root), c.key);
        EXPECT_TRUE(sorted_and_flag_clear(document));
    }
    EXPECT_EQ(written(document.root), R"({ "a": 1, "c": 3 })");
}

TEST(JsonObjectSet, RemovingAMissingKeyChangesNothing) {
    Document document(TWO_MEMBERS);
    Snapshot before = snapshot(document.root);
    for (const char *key : {"b", "", "\"a\"", "aa"}) {
        EXPECT_EQ(json_object_set(document.root, key, nullptr), JSON_NOMATCH) << key;
        expect_same(before, snapshot(document.root), key);
    }
}

TEST(JsonObjectSet, KeyInQuotesAddsADuplicateOfAnExistingKey) {
    Document document(TWO_MEMBERS);
    ASSERT_EQ(json_object_set(document.root, "\"a\"", "5"), 0);
    EXPECT_EQ(keys_of(document.root), (std::vector<std::string>{"a", "a", "c"}));
    EXPECT_TRUE(sorted_and_flag_clear(document));
}

TEST(JsonObjectSet, KeyWithAnEscapeIsNotFoundAgainSoItIsAddedTwice) {
    Document document(TWO_MEMBERS);
    ASSERT_EQ(json_object_set(document.root, "a\\tb", "1"), 0);
    ASSERT_EQ(json_object_set(document.root, "a\\tb", "2"), 0);
    EXPECT_EQ(keys_of(document.root), (std::vector<std::string>{"a", "a\tb", "a\tb", "c"}));
    EXPECT_NE(json_object_find(document.root, "a\tb", nullptr), nullptr);
}

TEST(JsonObjectSet, KeepsTheObjectSortedAfterEveryEdit) {
    Document document("{}");
    for (const char *key : {"e", "b", "d", "a", "c"}) {
        ASSERT_EQ(json_object_set(document.root, key, "1"), 0) << key;
        EXPECT_TRUE(sorted_and_flag_clear(document)) << key;
        EXPECT_NE(json_object_find(document.root, key, nullptr), nullptr) << key;
    }
    ASSERT_EQ(json_object_set(document.root, "c", nullptr), 0);
    ASSERT_EQ(json_object_set(document.root, "d", "[]"), 0);
    EXPECT_TRUE(sorted_and_flag_clear(document));
    EXPECT_EQ(written(document.root), R"({ "a": 1, "b": 1, "d": [  ], "e": 1 })");
}

TEST(JsonObjectSet, SortsAnUnsortedObjectBeforeSearching) {
    Document document(R"({"c": 3, "d": 4})");
    JsonValue *key = nullptr;
    JsonValue *value = nullptr;
    const char *end = nullptr;
    ASSERT_EQ(json_parse_string("\"a\"", 1, &end, &key), JSON_STRING);
    ASSERT_EQ(json_parse_value("1", &end, &value), JSON_NUMBER);
    ASSERT_EQ(json_object_add(document.object(), key, value), 0); // stored last: c, d, a

    ASSERT_EQ(json_object_set(document.root, "a", "9"), 0);
    EXPECT_EQ(written(document.root), R"({ "a": 9, "c": 3, "d": 4 })");
    EXPECT_TRUE(sorted_and_flag_clear(document));
}

TEST(JsonObjectSet, RemovingKeepsTheCapacityAndAnInsertReusesTheSlot) {
    Document document(numbers_object(32));
    JsonMember **members = document.object()->members;
    ASSERT_EQ(json_object_set(document.root, "k05", nullptr), 0);
    EXPECT_EQ(document.object()->count, 31u);
    EXPECT_EQ(document.object()->capacity, 32u);
    EXPECT_EQ(json_object_find(document.root, "k05", nullptr), nullptr);
    ASSERT_EQ(json_object_set(document.root, "new", "1"), 0);
    EXPECT_EQ(document.object()->count, 32u);
    EXPECT_EQ(document.object()->capacity, 32u);
    EXPECT_EQ(document.object()->members, members);
    EXPECT_TRUE(sorted_and_flag_clear(document));
}

// Counts the allocations that reading these texts as a new member's key and value makes.
unsigned long reading_allocations(const char *key, const char *text) {
    return count_allocations([&] {
        JsonValue *value = nullptr;
        const char *end = nullptr;
        if (key) {
            json_parse_string(key, 0, &end, &value);
            json_free(&value);
        }
        json_parse_value(text, &end, &value);
        json_free(&value);
    });
}

// Runs an edit with each of its allocations failing in turn, on a fresh copy of the document
// each time (the copies are parsed before the sweep, so that only the edit allocates): the
// status is JSON_ESYNTAX while the texts are read and JSON_ENOMEM afterwards, and the
// container is as it was. The successful run must leave as many blocks as it found: its
// insertion is undone by a removal, which allocates nothing, and a replacement swaps a value
// for one of the same shape.
void sweep_edit(const std::string &text, unsigned long reading, unsigned long adding,
                const std::function<int(JsonValue *)> &edit,
                const std::function<void(JsonValue *)> &undo = nullptr) {
    std::vector<Document> copies;
    for (unsigned long i = 0; i <= reading + adding; ++i)
        copies.emplace_back(text);
    unsigned long runs = sweep_allocation_failures([&](unsigned long nth) {
        ASSERT_LT(nth, copies.size());
        JsonValue *container = copies[nth].root;
        Snapshot before = snapshot(container);
        int status = edit(container);
        if (nth == 0) {
            EXPECT_EQ(status, 0);
            if (undo) undo(container);
            return;
        }
        EXPECT_EQ(status, nth <= reading ? JSON_ESYNTAX : JSON_ENOMEM) << "allocation " << nth;
        expect_same(before, snapshot(container), "allocation " + std::to_string(nth));
        if (json_type(container) == JSON_OBJECT) {
            EXPECT_EQ(copies[nth].object()->flags & JSON_NEEDS_SORT, 0u);
        }
    });
    EXPECT_EQ(runs, reading + adding);
}

const char *const NESTED_TEXT = R"({"k": ["v", 1, {"w": null}], "e": []})";

TEST(JsonEditOutOfMemory, AppendToAFullArray) {
    unsigned long reading = reading_allocations(nullptr, NESTED_TEXT);
    sweep_edit(
        numbers_array(32), reading, 2, // the cell and the larger vector
        [](JsonValue *array) { return json_array_set(array, 32, NESTED_TEXT); },
        [](JsonValue *array) { json_array_set(array, 32, nullptr); });
}

TEST(JsonEditOutOfMemory, ReplaceAnArrayItem) {
    unsigned long reading = reading_allocations(nullptr, NESTED_TEXT);
    sweep_edit(std::string("[0, ") + NESTED_TEXT + ", 2]", reading, 0,
               [](JsonValue *array) { return json_array_set(array, 1, NESTED_TEXT); });
}

TEST(JsonEditOutOfMemory, InsertIntoAFullObject) {
    unsigned long reading = reading_allocations("new\\n", NESTED_TEXT);
    sweep_edit(
        numbers_object(32), reading, 2, // the member and the larger vector
        [](JsonValue *object) { return json_object_set(object, "new\\n", NESTED_TEXT); },
        // The search takes the key text unchanged, so the member goes by its stored key.
        [](JsonValue *object) { EXPECT_EQ(json_object_set(object, "new\n", nullptr), 0); });
}

TEST(JsonEditOutOfMemory, ReplaceAMemberValue) {
    unsigned long reading = reading_allocations(nullptr, NESTED_TEXT);
    sweep_edit(std::string("{\"a\": 0, \"b\": ") + NESTED_TEXT + "}", reading, 0,
               [](JsonValue *object) { return json_object_set(object, "b", NESTED_TEXT); });
}

} // namespace

#include "allocation_sweep.h"
#include "json_document.h"
#include "support/memory.h"
#include "support/pool/block_pool.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// One value read on its own; the caller owns it.
JsonValue *read_value(const char *text) {
    const char *end = nullptr;
    JsonValue *value = nullptr;
    int status = json_parse_value(text, &end, &value);
    EXPECT_TRUE(status >= int(JSON_NULL) && status <= int(JSON_OBJECT)) << text;
    return value;
}

std::string text_of(const JsonValue *value) {
    uint32_t length = 0;
    const char *text = json_text(value, &length);
    return text ? std::string(text, length) : std::string("<none>");
}

// "[0,1,...,count-1]"
std::string numbered_array(int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        if (i) text += ',';
        text += std::to_string(i);
    }
    return text + "]";
}

std::string key_name(int i) {
    char name[16];
    snprintf(name, sizeof name, "k%03d", i);
    return name;
}

// {"k<count-1>":count-1,...,"k000":0}: the members stand against key order.
std::string reversed_object(int count) {
    std::string text = "{";
    for (int i = count - 1; i >= 0; --i) {
        text += '"';
        text += key_name(i);
        text += "\":";
        text += std::to_string(i);
        if (i) text += ',';
    }
    return text + "}";
}

std::vector<std::string> object_keys(const JsonValue *object) {
    std::vector<std::string> keys;
    JsonCursor cursor = nullptr;
    for (JsonValue *key = json_first(object, nullptr, &cursor); key;
         key = json_next(object, nullptr, &cursor))
        keys.push_back(text_of(key));
    return keys;
}

struct KindCase {
    const char *document; // the value is the document's only item
    uint32_t type;
    uint32_t length;
    const char *text; // null for a container
};

TEST(JsonAccess, LengthAndTextFollowTheKind) {
    const KindCase cases[] = {
        {"[null]", JSON_NULL, 4, "null"},
        {"[true]", JSON_TRUE, 4, "true"},
        {"[false]", JSON_FALSE, 5, "false"},
        {"[\"\"]", JSON_STRING, 0, ""},
        {"[\"a\\u0000b\"]", JSON_STRING, 3, "a\0b"},
        {"[1e+10]", JSON_NUMBER, 5, "1e+10"},
        {"[-0.5e+3]", JSON_NUMBER, 7, "-0.5e+3"},
        {"[[]]", JSON_ARRAY, 0, nullptr},
        {"[[1,[2,3]]]", JSON_ARRAY, 2, nullptr},
        {"[{}]", JSON_OBJECT, 0, nullptr},
        {"[{\"a\":1,\"b\":[]}]", JSON_OBJECT, 2, nullptr},
    };
    for (const KindCase &c : cases) {
        SCOPED_TRACE(c.document);
        Document document(c.document);
        JsonValue *value = json_array_item(document.root, 0);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(json_type(value), c.type);
        EXPECT_EQ(json_length(value), c.length);
        uint32_t length = 12345;
        const char *text = json_text(value, &length);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(json_text(value, nullptr), text);
        if (!c.text) {
            EXPECT_EQ(text, nullptr);
            continue;
        }
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(memcmp(text, c.text, c.length + 1), 0) << "text and its NUL";
    }
}

TEST(JsonAccess, LiteralsShareTheStaticTable) {
    const char *names[] = {"null", "true", "false"};
    const uint32_t types[] = {JSON_NULL, JSON_TRUE, JSON_FALSE};
    Document document("[null,true,false]");
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(json_literals[i].text, names[i]);
        EXPECT_EQ(json_literals[i].length, strlen(names[i]));
        EXPECT_EQ(json_literals[i].type, types[i]);
        EXPECT_EQ(json_text(json_array_item(document.root, uint32_t(i)), nullptr),
                  json_literals[i].text);
    }
}

TEST(JsonAccess, ArrayItemsComeInTextOrderAndMissesAreNull) {
    Document document("[10,20,30]");
    EXPECT_EQ(text_of(json_array_item(document.root, 0)), "10");
    EXPECT_EQ(text_of(json_array_item(document.root, 2)), "30");
    EXPECT_EQ(json_array_item(document.root, 3), nullptr);
    EXPECT_EQ(json_array_item(document.root, UINT32_MAX), nullptr);
    Document empty("[]");
    EXPECT_EQ(json_array_item(empty.root, 0), nullptr);
}

TEST(JsonAccess, MembersAreSortedByKeyBytesAndDuplicatesKept) {
    Document duplicates("{\"b\":1,\"a\":2,\"a\":3}");
    EXPECT_EQ(object_keys(duplicates.root), (std::vector<std::string>{"a", "a", "b"}));
    JsonValue *key = nullptr;
    EXPECT_EQ(text_of(json_object_find(duplicates.root, "a", &key)), "3");
    EXPECT_EQ(text_of(key), "a");

    Document bytes("{\"\xC3\xA9\":1,\"ab\":2,\"a b\":3,\"a\":4,\"B\":5,\"\":6}");
    EXPECT_EQ(object_keys(bytes.root),
              (std::vector<std::string>{"", "B", "a", "a b", "ab", "\xC3\xA9"}));
    EXPECT_EQ(text_of(json_object_find(bytes.root, "", nullptr)), "6");
    EXPECT_EQ(text_of(json_object_find(bytes.root, "\xC3\xA9", nullptr)), "1");
}

// An object of count members with keys m0, m1, ... in reverse order, and the key "k" with the
// values 0 to copies - 1 spread among them.
std::string object_with_copies(int count, int copies) {
    std::string text = "{";
    for (int written = 0, copy = 0; written < count; ++written) {
        text += "\"m" + std::to_string(count - 1 - written) + "\": 1, ";
        if (copy < copies && written == copy * count / copies)
            text += "\"k\": " + std::to_string(copy++) + ", ";
    }
    return text + "\"z\": 0}";
}

// Members with one key keep the order they were written in, whichever way the object is sorted,
// and the lookup finds the last one.
TEST(JsonAccess, AKeyHeldMoreThanOnceFindsTheLastOneWritten) {
    for (int count : {3, 40, 126, 400, 5000}) {
        for (int copies : {2, 3, 17}) {
            if (copies > count) continue;
            SCOPED_TRACE(std::to_string(count) + " members, " + std::to_string(copies) + " copies");
            Document document(object_with_copies(count, copies));
            ASSERT_NE(document.root, nullptr);
            std::vector<std::string> values;
            JsonValue *value = nullptr;
            JsonCursor cursor = nullptr;
            for (JsonValue *key = json_first(document.root, &value, &cursor); key;
                 key = json_next(document.root, &value, &cursor))
                if (text_of(key) == "k") values.push_back(text_of(value));
            ASSERT_EQ(values.size(), size_t(copies));
            for (int i = 0; i < copies; ++i)
                EXPECT_EQ(values[size_t(i)], std::to_string(i));
            EXPECT_EQ(text_of(json_object_find(document.root, "k", nullptr)),
                      std::to_string(copies - 1));
            EXPECT_EQ(text_of(json_object_find(document.root, "z", nullptr)), "0");
            EXPECT_EQ(json_object_find(document.root, "j", nullptr), nullptr);
        }
    }
}

TEST(JsonAccess, ObjectsAboveAndBelowTheStackSortSizeAreSortedWhenRead) {
    // Up to 128 members sort through a buffer on the stack; more sort their vector directly.
    for (int count : {127, 128, 129, 300}) {
        SCOPED_TRACE(count);
        Document document(reversed_object(count));
        std::vector<std::string> keys = object_keys(document.root);
        ASSERT_EQ(keys.size(), size_t(count));
        for (size_t i = 1; i < keys.size(); ++i)
            EXPECT_LT(strcmp(keys[i - 1].c_str(), keys[i].c_str()), 0) << i;
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(text_of(json_object_find(document.root, key_name(i).c_str(), nullptr)),
                      std::to_string(i));
    }
}

TEST(JsonAccess, FindLocatesEveryMemberOfALargeObject) {
    Document document(reversed_object(100));
    for (int i = 0; i < 100; ++i) {
        JsonValue *key = nullptr;
        EXPECT_EQ(text_of(json_object_find(document.root, key_name(i).c_str(), &key)),
                  std::to_string(i));
        EXPECT_EQ(text_of(key), key_name(i));
    }
    JsonValue stale{};
    JsonValue *key = &stale;
    EXPECT_EQ(json_object_find(document.root, "k100", &key), nullptr);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(json_object_find(document.root, "k", nullptr), nullptr);
    Document empty("{}");
    key = &stale;
    EXPECT_EQ(json_object_find(empty.root, "k000", &key), nullptr);
    EXPECT_EQ(key, nullptr);
}

enum class Output { member, null };

struct GetCase {
    const char *key;
    uint32_t wanted;
    int status;
    Output output;
};

TEST(JsonAccess, GetWantsAPresentNonEmptyMemberOfExactlyTheType) {
    Document document("{\"s\":\"x\",\"es\":\"\",\"n\":0,\"a\":[0],\"ea\":[],\"o\":{\"k\":0},"
                      "\"eo\":{},\"t\":true,\"f\":false,\"z\":null}");
    const GetCase cases[] = {
        // Present, non-empty and of the wanted type.
        {"s", JSON_STRING, 0, Output::member},
        {"n", JSON_NUMBER, 0, Output::member},
        {"a", JSON_ARRAY, 0, Output::member},
        {"o", JSON_OBJECT, 0, Output::member},
        {"t", JSON_TRUE, 0, Output::member},
        {"f", JSON_FALSE, 0, Output::member},
        {"z", JSON_NULL, 0, Output::member},
        // Empty or of another type: refused, but the value is still handed out.
        {"es", JSON_STRING, 22, Output::member},
        {"ea", JSON_ARRAY, 22, Output::member},
        {"eo", JSON_OBJECT, 22, Output::member},
        {"n", JSON_STRING, 22, Output::member},
        {"f", JSON_TRUE, 22, Output::member},
        {"t", JSON_FALSE, 22, Output::member},
        {"s", JSON_STRING | JSON_NUMBER, 22, Output::member},
        // Missing.
        {"x", JSON_STRING, 22, Output::null},
        {"", JSON_NULL, 22, Output::null},
    };
    JsonValue stale{};
    for (const GetCase &c : cases) {
        SCOPED_TRACE(std::string(c.key) + " as " + std::to_string(c.wanted));
        JsonValue *output = &stale;
        EXPECT_EQ(json_object_get(&output, document.root, c.key, c.wanted), c.status);
        if (c.output == Output::member) {
            EXPECT_EQ(output, json_object_find(document.root, c.key, nullptr));
        } else {
            EXPECT_EQ(output, nullptr);
        }
    }

    JsonValue *output = &stale;
    EXPECT_EQ(json_object_get(&output, nullptr, "s", JSON_STRING), 22);
    EXPECT_EQ(output, &stale);
    Document array("[{\"s\":\"x\"}]");
    EXPECT_EQ(json_object_get(&output, array.root, "s", JSON_STRING), 22);
    EXPECT_EQ(output, &stale);
    JsonValue *string = json_object_find(document.root, "s", nullptr);
    EXPECT_EQ(json_object_get(&output, string, "s", JSON_STRING), 22);
    EXPECT_EQ(output, &stale);
}

TEST(JsonIteration, ArraysGiveItemsInOrderWithoutASecondValue) {
    Document document("[1,\"two\",[3]]");
    JsonValue stale{};
    JsonValue *second = &stale;
    JsonCursor cursor = nullptr;
    std::vector<std::string> seen;
    for (JsonValue *item = json_first(document.root, &second, &cursor); item;
         item = json_next(document.root, &second, &cursor)) {
        EXPECT_EQ(second, nullptr);
        seen.push_back(json_type(item) == JSON_ARRAY ? "[]" : text_of(item));
        second = &stale;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "two", "[]"}));
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(second, nullptr);
    second = &stale;
    EXPECT_EQ(json_next(document.root, &second, &cursor), nullptr) << "next after the end";
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(second, nullptr);
}

TEST(JsonIteration, ObjectsGiveKeysInOrderWithTheirValues) {
    Document document("{\"b\":2,\"c\":3,\"a\":1}");
    JsonCursor cursor = nullptr;
    JsonValue *value = nullptr;
    std::string seen;
    for (JsonValue *key = json_first(document.root, &value, &cursor); key;
         key = json_next(document.root, &value, &cursor))
        seen += text_of(key) + "=" + text_of(value) + ";";
    EXPECT_EQ(seen, "a=1;b=2;c=3;");
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(value, nullptr);
}

TEST(JsonIteration, EmptyContainersEndAtOnce) {
    JsonValue stale{};
    for (const char *text : {"[]", "{}"}) {
        SCOPED_TRACE(text);
        Document document(text);
        JsonValue *second = &stale;
        JsonCursor cursor = reinterpret_cast<JsonCursor>(&second);
        EXPECT_EQ(json_first(document.root, &second, &cursor), nullptr);
        EXPECT_EQ(cursor, nullptr);
        EXPECT_EQ(second, nullptr);
        second = &stale;
        EXPECT_EQ(json_next(document.root, &second, &cursor), nullptr);
        EXPECT_EQ(second, nullptr);
    }
}

TEST(JsonIteration, CursorsOutsideTheUsedSlotsEnd) {
    Document document("[1,2,3]");
    JsonCursor cursor = nullptr;
    ASSERT_NE(json_first(document.root, nullptr, &cursor), nullptr);
    JsonCursor first = cursor;
    cursor = first - 1;
    EXPECT_EQ(json_next(document.root, nullptr, &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
    cursor = first + 2; // the last item
    EXPECT_EQ(json_next(document.root, nullptr, &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
    cursor = first + 1;
    EXPECT_EQ(text_of(json_next(document.root, nullptr, &cursor)), "3");
    EXPECT_EQ(cursor, first + 2);
}

TEST(JsonIteration, ScalarsHaveNoChildrenAndNothingIsWritten) {
    Document document("[\"text\",7,null]");
    JsonValue stale{};
    for (uint32_t i = 0; i < 3; ++i) {
        JsonValue *scalar = json_array_item(document.root, i);
        JsonValue *second = &stale;
        JsonCursor cursor = reinterpret_cast<JsonCursor>(&stale);
        EXPECT_EQ(json_first(scalar, &second, &cursor), nullptr);
        EXPECT_EQ(json_next(scalar, &second, &cursor), nullptr);
        EXPECT_EQ(second, &stale);
        EXPECT_EQ(cursor, reinterpret_cast<JsonCursor>(&stale));
    }
}

TEST(JsonFree, NullSlotsAreLeftAloneAndFreedSlotsBecomeNull) {
    json_free(nullptr);
    JsonValue *slot = nullptr;
    json_free(&slot);
    EXPECT_EQ(slot, nullptr);

    long live = mem_live_blocks();
    const char *end = nullptr;
    ASSERT_EQ(json_parse("{\"a\":[1,{\"b\":\"c\"}],\"d\":null}", &end, &slot), 0);
    EXPECT_GT(mem_live_blocks(), live);
    json_free(&slot);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(mem_live_blocks(), live);
}

TEST(JsonBuilding, EachNodeWithItsTextIsOneBlock) {
    const char *end = nullptr;
    JsonValue *root = nullptr;
    // Array node, vector, and per item a node and a cell.
    EXPECT_EQ(count_allocations([&] { json_parse("[1,\"ab\\n\",null]", &end, &root); }), 8u);
    json_free(&root);
    // Object node, vector, member, key and value.
    EXPECT_EQ(count_allocations([&] { json_parse("{\"key\":\"value\"}", &end, &root); }), 5u);
    json_free(&root);
}

TEST(JsonBuilding, VectorsGrowBy32Slots) {
    const struct {
        std::string text;
        uint32_t capacity;
    } cases[] = {
        {"[]", 0},
        {numbered_array(1), 32},
        {numbered_array(32), 32},
        {numbered_array(33), 64},
        {reversed_object(32), 32},
        {reversed_object(33), 64},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Document document(c.text);
        if (json_type(document.root) == JSON_ARRAY) {
            const JsonArray *array = static_cast<JsonArray *>(document.root->payload);
            EXPECT_EQ(array->capacity, c.capacity);
            EXPECT_EQ(array->cells == nullptr, c.capacity == 0);
        } else {
            EXPECT_EQ(static_cast<JsonObject *>(document.root->payload)->capacity, c.capacity);
        }
    }
}

TEST(JsonBuilding, ArrayInsertPlacesTheItemAtItsIndex) {
    Document document("[1,3]");
    JsonArray *array = static_cast<JsonArray *>(document.root->payload);
    ASSERT_EQ(json_array_insert(array, 1, read_value("2")), 0);
    ASSERT_EQ(json_array_insert(array, 0, read_value("0")), 0);
    ASSERT_EQ(json_array_insert(array, 4, read_value("4")), 0);
    std::string items;
    for (uint32_t i = 0; i < json_length(document.root); ++i)
        items += text_of(json_array_item(document.root, i));
    EXPECT_EQ(items, "01234");
}

TEST(JsonBuilding, AddMarksTheObjectUnsortedUntilSorted) {
    Document document("{\"d\":4,\"b\":2}");
    JsonObject *object = static_cast<JsonObject *>(document.root->payload);
    EXPECT_EQ(object->flags & JSON_NEEDS_SORT, 0u) << "the parser sorts";
    ASSERT_EQ(json_object_add(object, read_value("\"c\""), read_value("3")), 0);
    ASSERT_EQ(json_object_add(object, read_value("\"a\""), read_value("1")), 0);
    EXPECT_NE(object->flags & JSON_NEEDS_SORT, 0u);
    EXPECT_EQ(object_keys(document.root), (std::vector<std::string>{"b", "d", "c", "a"}));

    object->flags &= ~JSON_NEEDS_SORT;
    EXPECT_EQ(json_object_sort(object), object);
    EXPECT_EQ(object_keys(document.root), (std::vector<std::string>{"b", "d", "c", "a"}))
        << "without the flag nothing is sorted";

    object->flags |= JSON_NEEDS_SORT;
    EXPECT_EQ(json_object_sort(object), object);
    EXPECT_EQ(object->flags & JSON_NEEDS_SORT, 0u);
    EXPECT_EQ(object_keys(document.root), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(text_of(json_object_find(document.root, "c", nullptr)), "3");
}

TEST(JsonBuilding, FailedInsertLeavesTheArrayAsItWas) {
    Document document(numbered_array(32));
    JsonArray *array = static_cast<JsonArray *>(document.root->payload);
    JsonValue *item = read_value("\"new\"");
    long live = mem_live_blocks();
    // A full vector: the cell is allocated first, then the vector grows.
    for (unsigned long nth = 1; nth <= 2; ++nth) {
        SCOPED_TRACE(nth);
        JsonCell **cells = array->cells;
        {
            FailingAllocation failure(nth);
            EXPECT_EQ(json_array_insert(array, 5, item), JSON_ENOMEM);
        }
        EXPECT_EQ(array->cells, cells);
        EXPECT_EQ(array->count, 32u);
        EXPECT_EQ(array->capacity, 32u);
        EXPECT_EQ(text_of(json_array_item(document.root, 5)), "5");
        EXPECT_EQ(mem_live_blocks(), live);
    }
    ASSERT_EQ(json_array_insert(array, 32, item), 0);
    EXPECT_EQ(array->capacity, 64u);
    EXPECT_EQ(json_array_item(document.root, 32), item);
}

TEST(JsonBuilding, FailedAddLeavesTheObjectAsItWas) {
    Document document(reversed_object(32));
    JsonObject *object = static_cast<JsonObject *>(document.root->payload);
    JsonValue *key = read_value("\"new\"");
    JsonValue *value = read_value("1");
    long live = mem_live_blocks();
    for (unsigned long nth = 1; nth <= 2; ++nth) {
        SCOPED_TRACE(nth);
        JsonMember **members = object->members;
        {
            FailingAllocation failure(nth);
            EXPECT_EQ(json_object_add(object, key, value), JSON_ENOMEM);
        }
        EXPECT_EQ(object->members, members);
        EXPECT_EQ(object->count, 32u);
        EXPECT_EQ(object->capacity, 32u);
        EXPECT_EQ(object->flags & JSON_NEEDS_SORT, 0u);
        EXPECT_EQ(mem_live_blocks(), live);
    }
    ASSERT_EQ(json_object_add(object, key, value), 0);
    EXPECT_EQ(object->capacity, 64u);
    json_object_sort(object);
    EXPECT_EQ(json_object_find(document.root, "new", nullptr), value);
}

} // namespace

namespace {

// Leaves freed, 0xFF-filled blocks of the sizes nodes take behind in the block pool, so that the
// next nodes are made in dirty memory (the pool clears nothing).
void dirty_the_pool() {
    std::vector<std::pair<void *, size_t>> blocks;
    for (size_t size = 24; size <= 64; size += 8)
        for (int i = 0; i < 3000; ++i) {
            void *block = mem_pool_alloc(size);
            ASSERT_NE(block, nullptr);
            memset(block, 0xFF, size);
            blocks.push_back({block, size});
        }
    for (auto &[block, size] : blocks)
        mem_pool_free(block, size);
}

// Blocks are taken from the pool without being cleared: every byte the model says is zero
// (padding, empty vectors, a text's NUL) must be written as zero by the node's maker.
TEST(JsonBuilding, NodesMadeInReusedBlocksAreZeroWhereTheyHoldNothing) {
    dirty_the_pool();
    std::string text = "[";
    for (int i = 0; i < 3000; ++i)
        text += R"([], {}, "", "ab", "abcdefgh", 7, -1.5e3, null, true, false, )";
    text += "0]";
    Document document(text);
    // Each node's bytes that must be zero: header padding, text padding and NUL, and the whole
    // payload of an empty container.
    const size_t header = sizeof(JsonValue);
    uint32_t dirty_nodes = 0;
    for (uint32_t i = 0; i < json_length(document.root); ++i) {
        const JsonValue *item = json_array_item(document.root, i);
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(item);
        std::vector<size_t> zero;
        for (size_t padding = sizeof(uint32_t); padding < offsetof(JsonValue, payload); ++padding)
            zero.push_back(padding);
        if (json_type(item) == JSON_STRING || json_type(item) == JSON_NUMBER) {
            for (size_t at = offsetof(JsonText, length) + 4; at < sizeof(JsonText); ++at)
                zero.push_back(header + at);
            zero.push_back(header + sizeof(JsonText) + json_length(item));
        } else if (json_type(item) == JSON_ARRAY || json_type(item) == JSON_OBJECT) {
            size_t payload = json_type(item) == JSON_ARRAY ? sizeof(JsonArray) : sizeof(JsonObject);
            for (size_t at = 0; at < payload; ++at)
                zero.push_back(header + at);
        }
        for (size_t at : zero)
            if (bytes[at] != 0) {
                ADD_FAILURE_AT(__FILE__, __LINE__) << "node " << i << ", byte " << at;
                ++dirty_nodes;
                break;
            }
        if (dirty_nodes > 3) break;
    }
    EXPECT_EQ(dirty_nodes, 0u);
}

TEST(JsonThreads, DocumentsAndTheirCopiesMadeOnOneThreadAreWrittenAndFreedOnAnother) {
    // Each thread parses, edits, writes and copies documents of its own, and hands each one and
    // its copy to the next thread, which writes them again and frees them: separate documents on
    // separate threads share nothing but the heap.
    struct Handed {
        JsonValue *root;
        std::string text;
    };
    const int thread_count = 3, rounds = 150;
    std::vector<std::vector<Handed>> inboxes(thread_count);
    std::mutex inbox_lock;
    auto work = [&](int id) {
        for (int round = 0; round < rounds; ++round) {
            std::string number = std::to_string(id * 1000 + round);
            std::string text = "{\"n\": " + number +
                               ", \"items\": [\"tab\\there!\", 1.5e3, [true, null], {\"k\": \"" +
                               std::string(size_t(round % 40), 'x') + "\"}]}";
            const char *end = nullptr;
            JsonValue *root = nullptr;
            ASSERT_EQ(json_parse(text.c_str(), &end, &root), 0);
            ASSERT_EQ(json_object_set(root, "added", "[1, \"two\"]"), 0);
            std::string expected =
                "{ \"added\": [ 1, \"two\" ], \"items\": [ \"tab\\there!\", 1.5e3, "
                "[ true, null ], { \"k\": \"" +
                std::string(size_t(round % 40), 'x') + "\" } ], \"n\": " + number + " }";
            EXPECT_EQ(written(root), expected);
            // A copy is a document of this thread's blocks too, handed on with the original.
            JsonValue *copy = nullptr;
            ASSERT_EQ(json_copy(&copy, root), 0);
            std::vector<Handed> received;
            {
                std::lock_guard<std::mutex> hold(inbox_lock);
                inboxes[(id + 1) % thread_count].push_back({root, expected});
                inboxes[(id + 1) % thread_count].push_back({copy, expected});
                received.swap(inboxes[id]);
            }
            for (Handed &handed : received) {
                EXPECT_EQ(written(handed.root), handed.text);
                json_free(&handed.root);
            }
        }
    };
    std::vector<std::thread> threads;
    for (int id = 0; id < thread_count; ++id)
        threads.emplace_back(work, id);
    for (std::thread &thread : threads)
        thread.join();
    for (std::vector<Handed> &inbox : inboxes)
        for (Handed &handed : inbox) {
            EXPECT_EQ(written(handed.root), handed.text);
            json_free(&handed.root);
        }
}

} // namespace

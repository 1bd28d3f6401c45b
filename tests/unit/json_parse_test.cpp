#include "json/json.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonParse, ReadsASmallDocument) {
    const char *text = "{\"a\": [1, true, \"x\"]}";
    const char *end = nullptr;
    JsonValue *root = nullptr;
    ASSERT_EQ(json_parse(text, &end, &root), 0);
    EXPECT_EQ(json_type(root), JSON_OBJECT);
    EXPECT_EQ(*end, '\0');
    json_free(&root);
}

} // namespace

#include "hub/usage.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

namespace {

TEST(AnswerQuery, ReportsAnOutputThatCannotBeWritten) {
    TemporaryDirectory directory;
    directory.write("read-only.txt", "");
    for (HubQuery query : {HUB_QUERY_HELP, HUB_QUERY_VERSION}) {
        FILE *read_only = fopen("read-only.txt", "r");
        ASSERT_NE(read_only, nullptr);
        EXPECT_EQ(answer_query(query, read_only), EIO);
        fclose(read_only);
    }
}

} // namespace

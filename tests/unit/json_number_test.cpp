#include "json_document.h"
#include "temporary_directory.h"
#include "json/json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

// The number item of the document "[text]"; the document owns it.
struct NumberItem {
    Document document;
    explicit NumberItem(const std::string &text) : document("[" + text + "]") {}
    const JsonValue *value() const { return json_array_item(document.root, 0); }
};

bool same_double(double a, double b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

struct DoubleCase {
    const char *text;
    int status;
    double value;
};

const double HUGE_DOUBLE = std::numeric_limits<double>::infinity();

TEST(JsonNumber, DoublesAreCorrectlyRoundedAndReportTheirRange) {
    const DoubleCase cases[] = {
        {"0", 0, 0.0},
        {"-0", 0, -0.0},
        {"-0.0e-5", 0, -0.0},
        {"1.5", 0, 1.5},
        {"-12.25e1", 0, -122.5},
        {"1E2", 0, 100.0},
        {"0.1", 0, 0.1},
        {"123456789012345678901234567890", 0, 1.2345678901234568e29},
        // Halfway between two doubles: to the even one; a digit far behind decides otherwise.
        {"9007199254740993", 0, 9007199254740992.0},
        {"9007199254740995", 0, 9007199254740996.0},
        {"9007199254740993.00000000000000000000000000001", 0, 9007199254740994.0},
        {"2.2250738585072011e-308", 0, 2.2250738585072011e-308},
        {"2.2250738585072014e-308", 0, std::numeric_limits<double>::min()},
        {"1.7976931348623157e308", 0, std::numeric_limits<double>::max()},
        {"1.7976931348623158e308", 0, std::numeric_limits<double>::max()},
        {"0e99999999999999999999", 0, 0.0},
        // Below DBL_MIN but not zero: the nearest subnormal, without a status.
        {"4.9e-324", 0, std::numeric_limits<double>::denorm_min()},
        {"3e-324", 0, std::numeric_limits<double>::denorm_min()},
        // Too large: infinity with the sign; too small to be told from zero: zero with the sign.
        {"1.7976931348623159e308", JSON_ERANGE, HUGE_DOUBLE},
        {"1e309", JSON_ERANGE, HUGE_DOUBLE},
        {"-1e309", JSON_ERANGE, -HUGE_DOUBLE},
        {"1e99999999999999999999", JSON_ERANGE, HUGE_DOUBLE},
        {"0.00000000001e320", JSON_ERANGE, HUGE_DOUBLE},
        {"2e-324", JSON_ERANGE, 0.0},
        {"1e-400", JSON_ERANGE, 0.0},
        {"-1e-400", JSON_ERANGE, -0.0},
        {"100000000000e-99999999999999999999", JSON_ERANGE, 0.0},
    };
    for (const DoubleCase &c : cases) {
        SCOPED_TRACE(c.text);
        NumberItem item(c.text);
        double value = 7.0;
        EXPECT_EQ(json_number_double(item.value(), &value), c.status);
        EXPECT_TRUE(same_double(value, c.value)) << value << " instead of " << c.value;
        EXPECT_EQ(json_text(item.value(), nullptr), std::string(c.text)) << "text changed";
    }
}

struct IntegerCase {
    const char *text;
    int int64_status;
    int64_t int64_value;
    int uint64_status;
    uint64_t uint64_value;
};

TEST(JsonNumber, IntegersAreExactAndCountByValueNotByForm) {
    const int64_t MAX = std::numeric_limits<int64_t>::max();
    const int64_t MIN = std::numeric_limits<int64_t>::min();
    const uint64_t UMAX = std::numeric_limits<uint64_t>::max();
    const int R = JSON_ERANGE;
    const IntegerCase cases[] = {
        {"0", 0, 0, 0, 0},
        {"-0", 0, 0, 0, 0},
        {"42", 0, 42, 0, 42},
        {"-1", 0, -1, R, 0},
        // 1e2 and 1.0 are integers: the value counts, not how it is written.
        {"1e2", 0, 100, 0, 100},
        {"1.0", 0, 1, 0, 1},
        {"1.0E+2", 0, 100, 0, 100},
        {"100.00", 0, 100, 0, 100},
        {"100e-2", 0, 1, 0, 1},
        {"1.25e2", 0, 125, 0, 125},
        {"0.0001e4", 0, 1, 0, 1},
        {"-0.0e-999999999999", 0, 0, 0, 0},
        {"0e99999999999999999999", 0, 0, 0, 0},
        // A fractional part.
        {"1.5", R, 0, R, 0},
        {"1e-1", R, 0, R, 0},
        {"1.255e2", R, 0, R, 0},
        {"0.5", R, 0, R, 0},
        {"-0.000001", R, 0, R, 0},
        // The ranges' ends and one beyond.
        {"9223372036854775807", 0, MAX, 0, uint64_t(MAX)},
        {"9223372036854775808", R, 0, 0, uint64_t(MAX) + 1},
        {"-9223372036854775808", 0, MIN, R, 0},
        {"-9223372036854775809", R, 0, R, 0},
        {"-92233720368547758.08e2", 0, MIN, R, 0},
        {"18446744073709551615", R, 0, 0, UMAX},
        {"1.8446744073709551615e19", R, 0, 0, UMAX},
        {"18446744073709551616", R, 0, R, 0},
        {"1e19", R, 0, 0, 10000000000000000000u},
        {"1e20", R, 0, R, 0},
        {"184467440737095516150e-1", R, 0, 0, UMAX},
        {"1e99999999999999999999", R, 0, R, 0},
    };
    for (const IntegerCase &c : cases) {
        SCOPED_TRACE(c.text);
        NumberItem item(c.text);
        int64_t signed_value = 7;
        EXPECT_EQ(json_number_int64(item.value(), &signed_value), c.int64_status);
        EXPECT_EQ(signed_value, c.int64_status == 0 ? c.int64_value : 7);
        uint64_t unsigned_value = 7;
        EXPECT_EQ(json_number_uint64(item.value(), &unsigned_value), c.uint64_status);
        EXPECT_EQ(unsigned_value, c.uint64_status == 0 ? c.uint64_value : 7u);
        EXPECT_EQ(json_text(item.value(), nullptr), std::string(c.text)) << "text changed";
    }
}

TEST(JsonNumber, OnlyNumbersConvert) {
    Document document("[\"1\", null, true, [], {}]");
    double d = 7;
    int64_t i = 7;
    uint64_t u = 7;
    for (uint32_t index = 0; index < 5; ++index) {
        const JsonValue *value = json_array_item(document.root, index);
        EXPECT_EQ(json_number_double(value, &d), JSON_NOMATCH);
        EXPECT_EQ(json_number_int64(value, &i), JSON_NOMATCH);
        EXPECT_EQ(json_number_uint64(value, &u), JSON_NOMATCH);
    }
    EXPECT_EQ(json_number_double(nullptr, &d), JSON_NOMATCH);
    EXPECT_EQ(json_number_int64(nullptr, &i), JSON_NOMATCH);
    EXPECT_EQ(json_number_uint64(nullptr, &u), JSON_NOMATCH);
    EXPECT_EQ(d, 7);
    EXPECT_EQ(i, 7);
    EXPECT_EQ(u, 7u);
}

// Sets a locale whose decimal point is a comma for LC_ALL, generating one with localedef when
// none is installed; false when there is none to be had.
bool set_comma_locale(const std::string &scratch) {
    const char *names[] = {"de_DE.UTF-8",    "de_DE.utf8", "de_DE", "fr_FR.UTF-8",
                           "German_Germany", "German",     "de-DE"};
    for (const char *name : names)
        if (setlocale(LC_ALL, name) && strcmp(localeconv()->decimal_point, ",") == 0) return true;
#if defined(__GLIBC__)
    // glibc finds locales in LOCPATH too: one made there for this test is enough.
    std::string command =
        "localedef -i de_DE -f UTF-8 '" + scratch + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    setenv("LOCPATH", scratch.c_str(), 1);
    bool set = setlocale(LC_ALL, "de_DE.UTF-8") && strcmp(localeconv()->decimal_point, ",") == 0;
    unsetenv("LOCPATH");
    return set;
#else
    (void)scratch;
    return false;
#endif
}

TEST(JsonNumber, DoublesIgnoreTheCLocalesDecimalPoint) {
    TemporaryDirectory scratch;
    std::string previous = setlocale(LC_ALL, nullptr);
    if (!set_comma_locale(scratch.path())) {
        GTEST_SKIP() << "no locale with a decimal comma is installed or can be generated";
    }
    EXPECT_NE(strtod("0.5", nullptr), 0.5) << "the locale's own conversion stops at the point";
    NumberItem item("1234.5e-1");
    double value = 0;
    EXPECT_EQ(json_number_double(item.value(), &value), 0);
    EXPECT_EQ(value, 123.45);
    setlocale(LC_ALL, previous.c_str());
}

} // namespace

// Number values read as C types. The stored text follows the JSON number grammar, which the
// parser checked: an optional minus, integer digits, optional fraction digits, an optional
// exponent.
#include "json_node.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace {

// The parts of a number's text.
struct NumberParts {
    bool negative;
    const char *integer; // integer digits: [integer, integer_end)
    const char *integer_end;
    const char *fraction; // fraction digits: [fraction, fraction_end), empty when none
    const char *fraction_end;
    int64_t exponent; // the written exponent, kept within +-2^40 (far beyond any meaning)
};

const int64_t EXPONENT_BOUND = int64_t(1) << 40;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

NumberParts parts_of(const char *p, const char *stop) {
    NumberParts parts{};
    parts.negative = p < stop && *p == '-';
    if (parts.negative) ++p;
    parts.integer = p;
    while (p < stop && is_digit(*p))
        ++p;
    parts.integer_end = p;
    if (p < stop && *p == '.') ++p;
    parts.fraction = p;
    while (p < stop && is_digit(*p))
        ++p;
    parts.fraction_end = p;
    if (p < stop && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative_exponent = p < stop && *p == '-';
        if (p < stop && (*p == '-' || *p == '+')) ++p;
        int64_t exponent = 0;
        for (; p < stop && is_digit(*p); ++p)
            if (exponent < EXPONENT_BOUND) exponent = exponent * 10 + (*p - '0');
        parts.exponent = negative_exponent ? -exponent : exponent;
    }
    return parts;
}

// The decimal order of the leading non-zero digit (0 for 1 to 9.99, -1 for 0.1, ...), or
// nothing when all digits are zero.
bool leading_order(const NumberParts &parts, int64_t *order) {
    for (const char *p = parts.integer; p < parts.integer_end; ++p)
        if (*p != '0') {
            *order = (parts.integer_end - p - 1) + parts.exponent;
            return true;
        }
    for (const char *p = parts.fraction; p < parts.fraction_end; ++p)
        if (*p != '0') {
            *order = -(p - parts.fraction + 1) + parts.exponent;
            return true;
        }
    return false;
}

// The magnitude of the number as an integer: 0, JSON_ERANGE for a fractional part or a value
// above UINT64_MAX.
int integer_magnitude(const NumberParts &parts, uint64_t *magnitude) {
    // The significant digits are the integer digits, then the fraction digits, worth
    // 10^scale each at the last one; leading zeros add nothing, trailing zeros raise the scale.
    const char *first = parts.integer;
    const char *integer_end = parts.integer_end;
    const char *fraction_end = parts.fraction_end;
    int64_t integer_count = integer_end - first;
    int64_t count = integer_count + (fraction_end - parts.fraction);
    auto digit = [&](int64_t i) {
        return i < integer_count ? first[i] : parts.fraction[i - integer_count];
    };
    int64_t begin = 0;
    while (begin < count && digit(begin) == '0')
        ++begin;
    *magnitude = 0;
    if (begin == count) return 0; // zero, whatever its exponent
    int64_t scale = parts.exponent - (fraction_end - parts.fraction);
    while (digit(count - 1) == '0') {
        --count;
        ++scale;
    }
    if (scale < 0) return JSON_ERANGE;
    if (count - begin + scale > 20) return JSON_ERANGE;
    uint64_t value = 0;
    for (int64_t i = begin; i < count; ++i) {
        uint64_t d = uint64_t(digit(i) - '0');
        if (value > (UINT64_MAX - d) / 10) return JSON_ERANGE;
        value = value * 10 + d;
    }
    for (int64_t i = 0; i < scale; ++i) {
        if (value > UINT64_MAX / 10) return JSON_ERANGE;
        value *= 10;
    }
    *magnitude = value;
    return 0;
}

const JsonText *number_text(const JsonValue *number) {
    if (!number || number->type != JSON_NUMBER) return nullptr;
    return json_text_payload(number);
}

} // namespace

int json_number_double(const JsonValue *number, double *out) {
    const JsonText *text = number_text(number);
    if (!text) return JSON_NOMATCH;
    const char *first = text->text;
    const char *last = first + text->length;
    double value = 0;
    // from_chars reads the C locale's format whatever the locale is set to, and rounds
    // correctly; it takes the minus sign itself.
    std::from_chars_result result = std::from_chars(first, last, value);
    if (result.ec == std::errc()) {
        *out = value;
        return 0;
    }
    if (result.ec != std::errc::result_out_of_range) return JSON_NOMATCH;
    NumberParts parts = parts_of(first, last);
    int64_t order = 0;
    bool large = leading_order(parts, &order) && order > 0;
    double magnitude = large ? HUGE_VAL : 0.0;
    *out = parts.negative ? -magnitude : magnitude;
    return JSON_ERANGE;
}

int json_number_int64(const JsonValue *number, int64_t *out) {
    const JsonText *text = number_text(number);
    if (!text) return JSON_NOMATCH;
    NumberParts parts = parts_of(text->text, text->text + text->length);
    uint64_t magnitude = 0;
    if (integer_magnitude(parts, &magnitude) != 0) return JSON_ERANGE;
    const uint64_t most = uint64_t(INT64_MAX);
    if (parts.negative) {
        if (magnitude > most + 1) return JSON_ERANGE;
        *out = magnitude == most + 1 ? INT64_MIN : -int64_t(magnitude);
    } else {
        if (magnitude > most) return JSON_ERANGE;
        *out = int64_t(magnitude);
    }
    return 0;
}

int json_number_uint64(const JsonValue *number, uint64_t *out) {
    const JsonText *text = number_text(number);
    if (!text) return JSON_NOMATCH;
    NumberParts parts = parts_of(text->text, text->text + text->length);
    uint64_t magnitude = 0;
    if (integer_magnitude(parts, &magnitude) != 0) return JSON_ERANGE;
    if (parts.negative && magnitude != 0) return JSON_ERANGE;
    *out = magnitude;
    return 0;
}

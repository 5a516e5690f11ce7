#include "util/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include <fmt/format.h>

#include "util/text.h"

namespace reel {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The unsigned part of a decimal number after the grammar was checked: where its
// digits and its exponent stand, so that an out-of-range value can be told apart
// as overflow or underflow.
struct DecimalShape {
    std::string_view integer;
    std::string_view fraction;
    std::int64_t exponent = 0;  // saturated far beyond any double's range
};

// Checks `body` (no sign) against digits [ "." digits ] | "." digits, then an
// optional exponent. Absent when anything else is there.
std::optional<DecimalShape> check_decimal(std::string_view body) {
    DecimalShape shape;
    std::size_t pos = 0;
    while (pos < body.size() && is_digit(body[pos])) ++pos;
    shape.integer = body.substr(0, pos);
    if (pos < body.size() && body[pos] == '.') {
        const std::size_t first = ++pos;
        while (pos < body.size() && is_digit(body[pos])) ++pos;
        shape.fraction = body.substr(first, pos - first);
    }
    if (shape.integer.empty() && shape.fraction.empty()) return std::nullopt;
    if (pos < body.size() && (body[pos] == 'e' || body[pos] == 'E')) {
        ++pos;
        bool negative = false;
        if (pos < body.size() && (body[pos] == '+' || body[pos] == '-')) negative = body[pos++] == '-';
        const std::size_t first = pos;
        constexpr std::int64_t limit = 1'000'000'000;
        std::int64_t value = 0;
        while (pos < body.size() && is_digit(body[pos])) {
            value = std::min(limit, value * 10 + (body[pos] - '0'));
            ++pos;
        }
        if (pos == first) return std::nullopt;
        shape.exponent = negative ? -value : value;
    }
    if (pos != body.size()) return std::nullopt;
    return shape;
}

// True when the number, written 0.d x 10^k with d starting at its first non-zero
// digit, has k > 0, i.e. is at least 0.1 in magnitude. The conversion reports
// overflow and underflow alike; this tells which one happened.
bool magnitude_is_large(const DecimalShape& shape) {
    std::int64_t k = 0;
    const std::size_t lead = shape.integer.find_first_not_of('0');
    if (lead != std::string_view::npos) {
        k = static_cast<std::int64_t>(shape.integer.size() - lead);
    } else {
        const std::size_t first = shape.fraction.find_first_not_of('0');
        if (first == std::string_view::npos) return false;  // zero never leaves the range
        k = -static_cast<std::int64_t>(first);
    }
    return k + shape.exponent > 0;
}

}  // namespace

std::optional<double> read_number(std::string_view text) {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    const auto sign = [negative](double value) { return negative ? -value : value; };

    const std::string word = ascii_lower(body);
    if (word == "inf" || word == "infinity") return sign(std::numeric_limits<double>::infinity());
    if (word == "nan") return sign(std::numeric_limits<double>::quiet_NaN());

    const auto shape = check_decimal(body);
    if (!shape) return std::nullopt;

    double value = 0;
    const auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Correct rounding of a value beyond the largest double is infinity, and
        // of one below the smallest subnormal is zero.
        value = magnitude_is_large(*shape) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc() || ptr != body.data() + body.size()) {
        return std::nullopt;
    }
    return sign(value);
}

std::optional<std::int64_t> parse_int64(std::string_view text) {
    if (text.empty()) return std::nullopt;
    bool negative = false;
    std::size_t pos = 0;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        pos = 1;
    }
    if (pos == text.size()) return std::nullopt;
    for (std::size_t i = pos; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    // Accumulate as a negative number so that INT64_MIN fits.
    std::int64_t value = 0;
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = pos; i < text.size(); ++i) {
        const int digit = text[i] - '0';
        if (value < (min + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == min) return std::nullopt;
        value = -value;
    }
    return value;
}

std::int64_t round_half_away(double value) {
    if (std::isnan(value)) return 0;
    const double rounded = std::round(value);
    // Converting a double outside the 64-bit range is undefined, and probed or
    // configured numbers can be absurd.
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (rounded >= limit) return std::numeric_limits<std::int64_t>::max();
    if (rounded < -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(rounded);
}

std::string format_shortest(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    // Shortest round-trip digits in plain notation; integral values get no point.
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc()) return std::to_string(value);
    return std::string(buffer, result.ptr);
}

}  // namespace reel

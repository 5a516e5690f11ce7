#include "edits/time.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>
#include <vector>

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

std::optional<double> parse_time(std::string_view text) {
    const std::string normalized = replace_all(trim(text), ",", ".");
    const std::vector<std::string> parts = split(normalized, ':');
    // "1:2:3:4" would otherwise count days in sixties of hours.
    if (parts.size() > kMaxTimeParts) return std::nullopt;
    double seconds = 0;
    for (const std::string& part : parts) {
        const auto value = read_number(trim(part));
        if (!value) return std::nullopt;
        seconds = seconds * 60 + *value;
    }
    // inf and nan are numbers to the grammar, but no position in a movie; refusing
    // them here keeps them out of every comparison and sort downstream.
    if (!std::isfinite(seconds)) return std::nullopt;
    return seconds;
}

std::string bad_time_message(std::string_view text) {
    if (split(text, ':').size() > kMaxTimeParts)
        return fmt::format("bad time '{}': a time has at most three parts (H:MM:SS)", text);
    return fmt::format("bad time '{}'", text);
}

Result<std::pair<double, double>> parse_range(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return fail(fmt::format("range '{}' must look like START-END", text));
    const std::string_view start_text = text.substr(0, dash);
    const std::string_view end_text = text.substr(dash + 1);
    const auto start = parse_time(start_text);
    if (!start) return fail(bad_time_message(start_text));
    const auto end = parse_time(end_text);
    if (!end) return fail(bad_time_message(end_text));
    if (*start >= *end) return fail(fmt::format("range '{}': end must be after start", text));
    return std::pair{*start, *end};
}

}  // namespace reel

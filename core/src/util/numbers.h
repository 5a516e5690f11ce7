#pragma once
// Reading and writing numbers: the one decimal grammar every reader of times,
// tool output and edit lists goes by, whole integers, rounding, and the
// shortest form a number is shown in.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace reel {

// The program's decimal number grammar: optional sign, digits with an optional
// point (or a point and digits), optional exponent; or inf/infinity/nan in any
// letter case. Nothing else. Correctly rounded.
std::optional<double> read_number(std::string_view text);

// Whole decimal integer: optional single sign, digits only, no blanks, no overflow.
std::optional<std::int64_t> parse_int64(std::string_view text);

// Rounds to the nearest integer, halves away from zero. Values beyond the 64-bit
// range are clamped to it; NaN gives 0.
std::int64_t round_half_away(double value);

// The shortest decimal that reads back as the same double, without a decimal
// point when integral ("3", "0.75"). Used wherever a template says a plain "{}".
std::string format_shortest(double value);

}  // namespace reel

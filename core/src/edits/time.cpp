#include "edits/time.h"

#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "util/numbers.h"
#include "util/text.h"

namespace reel {

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

#pragma once
// Time and range notation: "H:MM:SS.mmm", "MM:SS" or plain seconds.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "util/result.h"

namespace reel {

// H:MM:SS is the longest form a time has.
inline constexpr std::size_t kMaxTimeParts = 3;

// Seconds from a time text (at most three ":" parts); absent when unreadable. Non-finite results are
// refused so that no NaN or infinity reaches a comparison or a sort.
std::optional<double> parse_time(std::string_view text);

// "bad time '{}'" for an unreadable time text, saying so when it has too many parts.
std::string bad_time_message(std::string_view text);

// "A-B" split at the first "-"; fails with the notation's messages.
Result<std::pair<double, double>> parse_range(std::string_view text);

}  // namespace reel

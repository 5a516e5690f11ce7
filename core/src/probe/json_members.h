#pragma once
// Tolerant readers for the JSON reports of ffprobe and mkvmerge. The tools write
// numbers either as JSON numbers or as strings holding numbers, and write
// "unknown" for names they cannot tell; these readers absorb all of that and
// answer "missing" instead of failing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "util/result.h"

namespace reel {

// One JSON document; fails with the parser's own description of the error
// (what it expected, at which line and column), without its exception tag.
Result<nlohmann::json> parse_json_document(std::string_view text);

// A string member; the string "unknown" counts as missing.
std::optional<std::string> text_member(const nlohmann::json& object, std::string_view key);
// A JSON integer that fits 64 signed bits, or a string holding a whole decimal
// number. A number with a fraction counts as missing.
std::optional<std::int64_t> integer_member(const nlohmann::json& object, std::string_view key);
// Any finite JSON number, or a string that reads fully as a finite number.
std::optional<double> decimal_member(const nlohmann::json& object, std::string_view key);
// A string in the member object "tags" under `key`; when that key is absent,
// under the key in upper case (Matroska writes "TITLE", MP4 "title").
std::optional<std::string> tag_value(const nlohmann::json& object, std::string_view key);
// True only when "disposition" holds `key` with the integer value 1.
bool disposition_flag(const nlohmann::json& object, std::string_view key);
// "num/den" read like integer members; absent without "/" or with a zero
// denominator (ffprobe writes 0/0 for rates it cannot tell). Not reduced.
std::optional<std::pair<std::int64_t, std::int64_t>> rational_member(const nlohmann::json& object,
                                                                     std::string_view key);

}  // namespace reel

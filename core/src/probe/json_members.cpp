#include "probe/json_members.h"

#include <cmath>
#include <limits>

#include "edits/time.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

using nlohmann::json;

// The member `key` of `object`, or null when `object` is no object or lacks it.
const json* member(const json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::int64_t> integer_value(const json& value) {
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_string()) return parse_int64(value.get_ref<const std::string&>());
    return std::nullopt;
}

std::string upper_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// nlohmann prefixes its messages with "[json.exception.parse_error.101] "; the
// tag means nothing to a user, the rest says what went wrong and where.
std::string without_exception_tag(std::string_view what) {
    if (!what.empty() && what.front() == '[') {
        const auto close = what.find("] ");
        if (close != std::string_view::npos) return std::string(what.substr(close + 2));
    }
    return std::string(what);
}

}  // namespace

Result<json> parse_json_document(std::string_view text) {
    // The parser reports errors only by exception; it is caught right here so
    // that the failure leaves this function as a value.
    try {
        return json::parse(text);
    } catch (const json::exception& error) {
        return fail(without_exception_tag(error.what()));
    }
}

std::optional<std::string> text_member(const json& object, std::string_view key) {
    const json* value = member(object, key);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    const auto& text = value->get_ref<const std::string&>();
    if (text == "unknown") return std::nullopt;
    return text;
}

std::optional<std::int64_t> integer_member(const json& object, std::string_view key) {
    const json* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    return integer_value(*value);
}

std::optional<double> decimal_member(const json& object, std::string_view key) {
    const json* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    std::optional<double> number;
    if (value->is_number()) {
        number = value->get<double>();
    } else if (value->is_string()) {
        number = read_number(value->get_ref<const std::string&>());
    }
    // "nan" and "inf" are numbers to the grammar but no time or size: a NaN
    // duration would slip past every "greater than zero" check downstream.
    if (number && !std::isfinite(*number)) return std::nullopt;
    return number;
}

std::optional<std::string> tag_value(const json& object, std::string_view key) {
    const json* tags = member(object, "tags");
    if (tags == nullptr || !tags->is_object()) return std::nullopt;
    const json* value = member(*tags, key);
    if (value == nullptr) value = member(*tags, upper_ascii(key));
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

bool disposition_flag(const json& object, std::string_view key) {
    const json* disposition = member(object, "disposition");
    if (disposition == nullptr) return false;
    const json* value = member(*disposition, key);
    if (value == nullptr || !value->is_number_integer()) return false;
    return integer_value(*value) == 1;
}

std::optional<std::pair<std::int64_t, std::int64_t>> rational_member(const json& object, std::string_view key) {
    const auto text = text_member(object, key);
    if (!text) return std::nullopt;
    const auto slash = text->find('/');
    if (slash == std::string::npos) return std::nullopt;
    const auto num = parse_int64(std::string_view(*text).substr(0, slash));
    const auto den = parse_int64(std::string_view(*text).substr(slash + 1));
    if (!num || !den || *den == 0) return std::nullopt;
    return std::pair{*num, *den};
}

}  // namespace reel

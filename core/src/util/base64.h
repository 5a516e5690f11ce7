#pragma once
// Base64 with the standard alphabet and "=" padding (RFC 4648 section 4).
#include <optional>
#include <string>
#include <string_view>

namespace reel {

std::string base64_encode(std::string_view bytes);
// Absent when the text is not valid padded base64.
std::optional<std::string> base64_decode(std::string_view text);

}  // namespace reel

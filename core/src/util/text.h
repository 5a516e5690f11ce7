#pragma once
// Small text helpers shared by every subsystem. All texts are UTF-8.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reel {

// Removes Unicode white space (UTF-8 encoded) at both ends.
std::string_view trim(std::string_view text);
// Removes Unicode white space at the end only.
std::string_view trim_end(std::string_view text);
// True when the code point is Unicode white space (White_Space property).
bool is_unicode_space(char32_t cp);

// Lower-cases ASCII letters only; other bytes are kept.
std::string ascii_lower(std::string_view text);

bool is_valid_utf8(std::string_view bytes);
// Decodes bytes as UTF-8, replacing each invalid sequence by U+FFFD.
std::string utf8_lossy(std::string_view bytes);
// Decodes UTF-8 into code points; invalid bytes become U+FFFD.
std::vector<char32_t> utf8_code_points(std::string_view text);
void append_utf8(std::string& out, char32_t cp);

struct Utf8Char {
    char32_t cp = 0;
    std::size_t length = 0;  // bytes, at least 1
};
// The code point that starts at byte `pos` (< size) and its length; an invalid
// sequence reads as U+FFFD over the bytes that utf8_lossy would replace.
Utf8Char decode_utf8(std::string_view text, std::size_t pos);

// Replaces every occurrence of `from` (non-empty) by `to`.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);
std::vector<std::string> split(std::string_view text, char separator);
// The lines of a text, each without its "\n" or "\r\n"; a final line end
// starts no empty last line.
std::vector<std::string_view> split_lines(std::string_view text);
bool starts_with(std::string_view text, std::string_view prefix);
bool contains(std::string_view text, std::string_view part);

}  // namespace reel

#include "util/text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace reel {

namespace {

// Decodes one UTF-8 sequence at `pos`; returns the code point and its length, or
// length 0 when the bytes there do not form a valid sequence.
std::pair<char32_t, std::size_t> decode_one(std::string_view s, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) return {b0, 1};
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    else return {0, 0};
    if (pos + len > s.size()) return {0, 0};
    for (std::size_t i = 1; i < len; ++i) {
        const unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, len};
}

// Length of the leading invalid stretch to replace by one U+FFFD: the maximal
// prefix of a would-be sequence, at least one byte.
std::size_t invalid_length(std::string_view s, std::size_t pos) {
    const unsigned char b0 = static_cast<unsigned char>(s[pos]);
    std::size_t want = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 1;
    std::size_t n = 1;
    while (n < want && pos + n < s.size() && (static_cast<unsigned char>(s[pos + n]) & 0xC0) == 0x80) ++n;
    return n;
}

}  // namespace

bool is_unicode_space(char32_t cp) {
    switch (cp) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

std::string_view trim_end(std::string_view text) {
    // Walk back over whole code points.
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t start = end - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && end - start < 4) --start;
        auto [cp, len] = decode_one(text, start);
        if (len == 0 || start + len != end || !is_unicode_space(cp)) break;
        end = start;
    }
    return text.substr(0, end);
}

std::string_view trim(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto [cp, len] = decode_one(text, pos);
        if (len == 0 || !is_unicode_space(cp)) break;
        pos += len;
    }
    return trim_end(text.substr(pos));
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) { ++pos; continue; }
        auto [cp, len] = decode_one(bytes, pos);
        if (len == 0) return false;
        pos += len;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        auto [cp, len] = decode_one(bytes, pos);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            pos += invalid_length(bytes, pos);
        } else {
            out.append(bytes.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

std::vector<char32_t> utf8_code_points(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto [cp, len] = decode_one(text, pos);
        if (len == 0) {
            out.push_back(0xFFFD);
            pos += invalid_length(text, pos);
        } else {
            out.push_back(cp);
            pos += len;
        }
    }
    return out;
}

Utf8Char decode_utf8(std::string_view text, std::size_t pos) {
    const auto [cp, len] = decode_one(text, pos);
    if (len == 0) return {0xFFFD, invalid_length(text, pos)};
    return {cp, len};
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos || from.empty()) break;
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = text.find(separator, pos);
        if (hit == std::string_view::npos) {
            parts.emplace_back(text.substr(pos));
            return parts;
        }
        parts.emplace_back(text.substr(pos, hit - pos));
        pos = hit + 1;
    }
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        const bool terminated = end != std::string_view::npos;
        if (!terminated) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (terminated && line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }
bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace reel

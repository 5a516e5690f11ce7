#include "tools/win_quote.h"

namespace reel {

std::string quote_windows_argument(std::string_view arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) return std::string(arg);

    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Backslashes before a quote are halved by the splitter and an odd
            // one escapes the quote: double them and add one.
            out.append(backslashes * 2 + 1, '\\');
        } else {
            // Backslashes elsewhere are taken literally.
            out.append(backslashes, '\\');
        }
        out += c;
        backslashes = 0;
    }
    // The closing quote follows: trailing backslashes must not escape it.
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

std::string windows_command_line(std::string_view program, const std::vector<std::string>& args) {
    std::string line = "\"";
    line += program;
    line += '"';
    for (const auto& arg : args) {
        line += ' ';
        line += quote_windows_argument(arg);
    }
    return line;
}

}  // namespace reel

// Windows command-line quoting, checked as text and against a splitter written
// from the documented rules of CommandLineToArgvW (the Windows build checks the
// same cases against the real one).
#include <gtest/gtest.h>

#include "tools/win_quote.h"

namespace reel {
namespace {

// The documented splitting rules for the arguments after the program name:
// blanks and tabs separate outside quotes; 2n backslashes before a quote give n
// backslashes and the quote toggles quoting; 2n+1 give n and a literal quote;
// backslashes before anything else are literal. The program name itself runs
// to the next blank, or between quotes without any escapes.
std::vector<std::string> split_like_windows(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    std::string program;
    if (i < line.size() && line[i] == '"') {
        const auto end = line.find('"', i + 1);
        program = line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
        i = end == std::string::npos ? line.size() : end + 1;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') program += line[i++];
    }
    out.push_back(program);
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';  // "" inside quotes: a literal quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
            }
        }
        out.push_back(arg);
    }
    return out;
}

TEST(WindowsQuoting, QuotesOnlyWhatNeedsIt) {
    const struct {
        std::string arg;
        std::string quoted;
    } cases[] = {
        {"plain", "plain"},
        {"C:\\dir\\file.mkv", "C:\\dir\\file.mkv"},
        {"trailing\\", "trailing\\"},  // no quotes around it, so nothing to escape
        {"-filter:v", "-filter:v"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"tab\there", "\"tab\there\""},
        {"line\nbreak", "\"line\nbreak\""},
        {"\"", "\"\\\"\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\Program Files\\", "\"C:\\Program Files\\\\\""},
        {"a\\\\ b\\\\", "\"a\\\\ b\\\\\\\\\""},
        {"back\\\"quote", "\"back\\\\\\\"quote\""},
        {"a\\b c", "\"a\\b c\""},
    };
    for (const auto& c : cases) EXPECT_EQ(quote_windows_argument(c.arg), c.quoted) << "[" << c.arg << "]";
}

TEST(WindowsQuoting, CommandLineQuotesTheProgramWhole) {
    EXPECT_EQ(windows_command_line("C:\\Program Files\\MKVToolNix\\mkvmerge.exe", {"-o", "out file.mkv", ""}),
              "\"C:\\Program Files\\MKVToolNix\\mkvmerge.exe\" -o \"out file.mkv\" \"\"");
    EXPECT_EQ(windows_command_line("ffmpeg.exe", {}), "\"ffmpeg.exe\"");
}

TEST(WindowsQuoting, AwkwardArgumentsSurviveTheSplittingRules) {
    const std::vector<std::string> args = {
        "", " ", "  ", "\"", "\"\"", "\\", "\\\\", "\\\"", "\\\\\"", "a\\", "a\\\\", "a b\\", "a b\\\\",
        "\\\\server\\share\\", "x\"y\"z", "\" leading", "trailing \"", "tab\t", "new\nline",
        "caf\xC3\xA9 \xF0\x9F\x8E\xAC", "a&b|c<d>e^f", "%PATH%",
    };
    const std::string program = "C:\\Program Files\\ffmpeg\\bin\\ffmpeg.exe";
    auto parts = split_like_windows(windows_command_line(program, args));
    ASSERT_FALSE(parts.empty());
    EXPECT_EQ(parts.front(), program);
    parts.erase(parts.begin());
    EXPECT_EQ(parts, args);

    for (const auto& arg : args) {
        const auto alone = split_like_windows(windows_command_line(program, {arg}));
        ASSERT_EQ(alone.size(), 2u) << "[" << arg << "]";
        EXPECT_EQ(alone[1], arg);
    }
}

}  // namespace
}  // namespace reel

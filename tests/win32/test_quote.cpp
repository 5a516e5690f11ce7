// Argument quoting against the real splitter: CommandLineToArgvW here, and the
// child's own view of its command line through start_child.
#include <gtest/gtest.h>

#include "tools/win_quote.h"
#include "win32_support.h"
// After windows.h (through win32_support.h), which it depends on.
#include <shellapi.h>

namespace reel {
namespace {

// Arguments that break naive quoting: blanks, quotes, backslash runs before
// quotes and at the end, empty texts and text outside any ANSI code page.
const std::vector<std::string> awkward_arguments = {
    "",
    " ",
    "plain",
    "two words",
    "tab\there",
    "line\nbreak",
    "\"",
    "\"\"",
    "say \"hi\"",
    "\\",
    "\\\\",
    "trailing\\",
    "C:\\Program Files\\ffmpeg\\",
    "C:\\Program Files\\ffmpeg\\\\",
    "\\\\server\\share\\movie.mkv",
    "back\\\"quote",
    "back\\\\\"quote",
    "ends in quote\"",
    "ends in backslash quote\\\"",
    "-filter_complex",
    "drawtext=fontfile='C\\:/Windows/Fonts/arial.ttf':text_align=M+C",
    "pipe:1",
    "caf\xC3\xA9 \xE6\x98\xA0\xE7\x94\xBB \xF0\x9F\x8E\xAC.mkv",
    "%PATH%",
    "a&b|c<d>e^f",
};

std::vector<std::string> split_by_system(const std::string& command_line) {
    int count = 0;
    LPWSTR* parts = ::CommandLineToArgvW(test::to_wide(command_line).c_str(), &count);
    std::vector<std::string> out;
    if (parts == nullptr) return out;
    for (int i = 0; i < count; ++i) out.push_back(test::to_utf8(parts[i]));
    ::LocalFree(parts);
    return out;
}

TEST(WindowsQuoting, EachArgumentAloneComesBackFromCommandLineToArgvW) {
    for (const auto& arg : awkward_arguments) {
        const auto parts = split_by_system(windows_command_line("C:\\tools\\ffmpeg.exe", {arg}));
        ASSERT_EQ(parts.size(), 2u) << "argument [" << arg << "]";
        EXPECT_EQ(parts[1], arg);
    }
}

TEST(WindowsQuoting, AllArgumentsTogetherComeBackInOrder) {
    auto parts = split_by_system(windows_command_line("C:\\Program Files\\MKVToolNix\\mkvmerge.exe", awkward_arguments));
    ASSERT_FALSE(parts.empty());
    EXPECT_EQ(parts.front(), "C:\\Program Files\\MKVToolNix\\mkvmerge.exe");
    parts.erase(parts.begin());
    EXPECT_EQ(parts, awkward_arguments);
}

TEST(WindowsQuoting, ChildReceivesEveryArgumentUnchanged) {
    std::vector<std::string> args = {"args"};
    args.insert(args.end(), awkward_arguments.begin(), awkward_arguments.end());
    const auto run = test::run_helper(args);
    ASSERT_EQ(run.status.code, 0) << run.err;

    std::vector<std::string> received;
    std::size_t start = 0;
    for (std::size_t end; (end = run.out.find('\0', start)) != std::string::npos; start = end + 1)
        received.push_back(run.out.substr(start, end - start));
    EXPECT_EQ(start, run.out.size()) << "output does not end with a separator";
    EXPECT_EQ(received, awkward_arguments);
}

TEST(WindowsQuoting, ChildWithoutArgumentsReceivesNone) {
    const auto run = test::run_helper({"args"});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace reel

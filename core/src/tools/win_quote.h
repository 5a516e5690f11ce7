#pragma once
// Building a Windows command line. A Windows child receives one string and splits
// it itself (CommandLineToArgvW, or the C runtime's identical rules), so every
// argument must be quoted such that this split gives it back unchanged. Pure text
// work, kept apart from the Win32 calls so it is tested on every platform.
#include <string>
#include <string_view>
#include <vector>

namespace reel {

// One argument as it must appear in a command line: unchanged when it is not
// empty and holds no blank, tab, line break or double quote; otherwise in double
// quotes, with every double quote and every run of backslashes before a quote
// (or before the closing quote) escaped by doubling the backslashes.
std::string quote_windows_argument(std::string_view arg);

// The program followed by the arguments, each quoted. The program (argv[0]) is
// split by simpler rules (quotes only toggle, backslashes are literal), so it is
// wrapped in double quotes whole; a Windows file name cannot contain one.
std::string windows_command_line(std::string_view program, const std::vector<std::string>& args);

}  // namespace reel

#pragma once
// The command line of reelmender-cli: the parsed options, the usage text, and the
// rules that turn an argument list into one job's worth of settings.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edits/edit.h"
#include "pipeline/container.h"
#include "util/result.h"

namespace reel {

struct FrameRequest {
    double time = 0;
    std::string file;
};

struct ClipRequest {
    double start = 0;
    double length = 0;  // end minus start
    std::string file;
};

// Texts are kept exactly as given; paths are neither checked nor made absolute.
struct CommandLine {
    std::optional<std::string> movie;
    std::vector<Edit> edits;  // in command-line order, each edit-list file's rows in place
    std::optional<std::string> out;
    OutputContainer container = matroska_container();  // --mp4 asks for MP4
    bool quiet = false;
    bool keepTemp = false;
    bool exact = false;
    bool probe = false;
    double cardSeconds = 10.0;
    bool match = false;
    std::optional<FrameRequest> frame;
    std::optional<ClipRequest> clip;
    std::uint32_t optionEditCount = 0;  // names the option edits "arg1", "arg2", ...
    bool serve = false;                   // the web front end instead of a job on one movie
    std::optional<int> port;              // --port, 0 to 65535
    std::vector<std::string> roots;       // --root folders, in the order given
    std::vector<std::string> warnings;    // the edit-list files' messages, in the order shown
    std::optional<std::string> muteWords{};   // --mute-words: the word list
    std::optional<std::size_t> wordsTrack{};  // --words-track, 1-based among the subtitle tracks
};

// The usage lines, each ending in "\n".
const std::string& usage_text();

// `first_line`, "\n", then the usage text without its last line end: the form of
// messages that end in the usage (the error line adds its own "\n").
std::string message_with_usage(std::string_view first_line);

// True when there are no arguments or any of them is exactly "-h" or "--help",
// wherever it stands (also where an option expects its value).
bool wants_help(const std::vector<std::string>& args);

// Receives each line problem of an edit-list file the moment the file is read.
using WarningSink = std::function<void(const std::string&)>;

// Parses the arguments left to right; the first problem stops the parse with its
// message. Then demands a movie (--serve takes none), refuses --words-track
// without --mute-words, and hands the final
// --card-seconds / --match to every --card edit. Help is not handled here (see wants_help).
// An argument that begins with "-" is an option unless it names an existing
// file; there is one movie; words after a card text that name no file are card
// text that lacked its quotes.
Result<CommandLine> parse_command_line(const std::vector<std::string>& args, const WarningSink& warn);

// Gives every card edit of the command line the final card length and match flag.
void apply_final_card_settings(CommandLine& command_line);

// Next to the movie: its stem, " (edited)", then the container's extension;
// "output" stands in for a path without a file name.
std::filesystem::path default_output_path(const std::string& movie, const OutputContainer& container);

// --out as given (its extension untouched), else the default next to the movie.
std::filesystem::path output_path(const CommandLine& command_line);

}  // namespace reel

#pragma once
// Whole-file reading and writing with messages that carry the system's wording.
#include <filesystem>
#include <string>

#include "util/result.h"

namespace reel {

// Reads the whole file; fails with the system's description of the failure.
Result<std::string> read_file(const std::filesystem::path& path);
// Creates or replaces the file; fails with the system's description of the failure.
Result<void> write_file(const std::filesystem::path& path, std::string_view bytes);

// The path as UTF-8 text, for messages and tool arguments.
std::string path_text(const std::filesystem::path& path);
// A path from UTF-8 text (exact on every platform, unlike the narrow constructor
// on Windows, which would decode with the ANSI code page).
std::filesystem::path path_from_text(std::string_view text);

// A file path as a tool argument: a relative path that begins with "-" would be
// read as an option by ffprobe, ffmpeg and mkvmerge, so it is given as "./-name".
std::string tool_path_argument(std::string_view path);

}  // namespace reel

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

}  // namespace reel

#pragma once
// Where a run writes: the output's folder, the work folder inside it, and the
// one step that puts the finished file in the output's place.
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "util/result.h"

namespace reel {

// The folder that will hold the output: its parent, or "." when it has none.
std::filesystem::path output_folder(const std::filesystem::path& output);
// ".reelmender-work-{pid}-{suffix}" inside the output folder.
std::filesystem::path work_folder_path(const std::filesystem::path& output, std::uint32_t pid,
                                       std::string_view suffix);

// True when writing `output` would replace the movie itself: the same file under
// another spelling or through a link.
bool output_overwrites_movie(const std::filesystem::path& output, const std::filesystem::path& movie);

// Moves the finished file to the output path in one step, replacing a file that
// stood there. Fails with "cannot write the output: " and the system's wording.
Result<void> place_output(const std::filesystem::path& finished, const std::filesystem::path& output);

}  // namespace reel

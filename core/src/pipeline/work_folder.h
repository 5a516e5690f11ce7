#pragma once
// The private folder of one run: created fresh for this user alone, and the
// folders of runs that died without removing theirs taken away.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "util/result.h"

namespace reel {

inline constexpr std::string_view kWorkFolderPrefix = ".reelmender-work-";
// A file in a work folder that --keep-temp asked to keep: no later run removes it.
inline constexpr std::string_view kKeptMarker = ".kept";

// The process id in a work folder's name: ".reelmender-work-{pid}" or
// ".reelmender-work-{pid}-{suffix}"; absent for any other name.
std::optional<std::uint32_t> work_folder_pid(std::string_view name);

// Creates a work folder for this run in the output's folder, named after the
// process id and a random suffix, that only this user can enter. Fails with
// "cannot create work folder: " and the system's wording, also when the name is
// taken (by a planted link, say). `keep` marks it as kept for good.
Result<std::filesystem::path> create_work_folder(const std::filesystem::path& output, bool keep);

// Removes the work folders in `folder` whose run has ended (its process id is
// gone), except kept ones. Links are never followed; failures are ignored.
void remove_stale_work_folders(const std::filesystem::path& folder);

}  // namespace reel

#include "pipeline/work_folder.h"

#include <random>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "pipeline/paths.h"
#include "pipeline/stage_args.h"
#include "tools/process.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

std::optional<std::uint32_t> work_folder_pid(std::string_view name) {
    if (!name.starts_with(kWorkFolderPrefix)) return std::nullopt;
    name.remove_prefix(kWorkFolderPrefix.size());
    const std::string_view digits = name.substr(0, name.find('-'));
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const auto pid = parse_int64(digits);
    if (!pid || *pid <= 0 || *pid > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(*pid);
}

Result<std::filesystem::path> create_work_folder(const std::filesystem::path& output, bool keep) {
    // Unguessable, so that nobody can lay the name out in advance in a folder
    // others can write to.
    std::random_device random;
    const auto suffix = fmt::format("{:08x}{:08x}", random(), random());
    const auto work = work_folder_path(output, current_process_id(), suffix);
    if (auto created = create_private_folder(path_text(work)); !created)
        return fail("cannot create work folder: " + created.error());
    if (keep) {
        if (auto marked = write_file(work / std::string(kKeptMarker), ""); !marked)
            return fail("cannot create work folder: " + marked.error());
    }
    return work;
}

void remove_stale_work_folders(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> stale;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const auto pid = work_folder_pid(path_text(it->path().filename()));
        if (!pid || *pid == current_process_id() || process_running(*pid)) continue;
        // Only our own real folders: a link named like a work folder, or a
        // folder someone else made, is left alone with whatever it leads to.
        if (!is_own_plain_folder(path_text(it->path()))) continue;
        std::error_code marker_ec;
        if (std::filesystem::exists(it->path() / std::string(kKeptMarker), marker_ec)) continue;
        stale.push_back(it->path());
    }
    for (const auto& path : stale) std::filesystem::remove_all(path, ec);
}

}  // namespace reel

#include "pipeline/paths.h"

#include <system_error>

#include <fmt/format.h>

#include "pipeline/work_folder.h"
#include "util/files.h"

namespace reel {

std::filesystem::path output_folder(const std::filesystem::path& output) {
    const auto parent = output.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

std::filesystem::path work_folder_path(const std::filesystem::path& output, std::uint32_t pid,
                                       std::string_view suffix) {
    // Every intermediate file's path starts with the work folder's, and the
    // tools would take a path that begins with "-" for an option.
    const auto folder = output_folder(output);
    const auto base = path_text(folder).starts_with("-") ? std::filesystem::path(".") / folder : folder;
    return base / fmt::format("{}{}-{}", kWorkFolderPrefix, pid, suffix);
}

bool output_overwrites_movie(const std::filesystem::path& output, const std::filesystem::path& movie) {
    std::error_code ec;
    if (std::filesystem::exists(output, ec) && std::filesystem::exists(movie, ec)) {
        const bool same = std::filesystem::equivalent(output, movie, ec);
        if (!ec) return same;
    }
    // Not both there (or not comparable): compare the spellings with links and
    // dot segments resolved as far as the folders exist.
    const auto a = std::filesystem::weakly_canonical(output, ec);
    if (ec) return false;
    const auto b = std::filesystem::weakly_canonical(movie, ec);
    if (ec) return false;
    return a == b;
}

Result<void> place_output(const std::filesystem::path& finished, const std::filesystem::path& output) {
    // The work folder lies in the output's folder, so this is a rename within
    // one file system: atomic, and never a partly copied file.
    std::error_code ec;
    std::filesystem::rename(finished, output, ec);
    if (ec) return fail("cannot write the output: " + ec.message());
    return {};
}

}  // namespace reel

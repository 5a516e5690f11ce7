#include <system_error>

#include "pipeline/pipeline.h"
#include "util/result.h"

namespace reel {

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

std::string finished_file_name(const std::string& container) {
    return container == "mp4" ? "final.mp4" : "final.mkv";
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

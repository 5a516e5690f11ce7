#include "edit_run.h"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "pipeline/paths.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {

Result<void> check_output_name(const PipelineOptions& options) {
    // Players go by the name: MP4 data under ".mkv" is a file that lies about itself.
    const OutputContainer& matroska = matroska_container();
    if (options.container != matroska && ascii_lower(path_text(options.output.extension())) == matroska.extension)
        return fail(fmt::format("{} writes {} data, but the output '{}' ends in {}", options.container.option,
                                options.container.label, path_text(options.output), matroska.extension));
    return {};
}

std::optional<std::string> replaced_output_warning(const PipelineOptions& options) {
    std::error_code ec;
    // Writing over the movie itself is refused by the run; no warning first.
    if (!std::filesystem::exists(options.output, ec) || output_overwrites_movie(options.output, options.movie))
        return std::nullopt;
    return fmt::format("'{}' already exists and will be replaced when the run succeeds", path_text(options.output));
}

Result<RunReport> run_edits(RunContext& ctx, const PipelineOptions& options, std::vector<std::string> warnings,
                            const std::function<void(const std::string&)>& warn) {
    if (auto refused = check_output_name(options); !refused) return fail(refused.error());
    if (auto replaced = replaced_output_warning(options)) {
        if (warn) warn(*replaced);
        warnings.push_back(std::move(*replaced));
    }
    auto report = run_pipeline(ctx, options, warnings);
    if (!report) return fail(ctx.cancelled->load() ? std::string("Cancelled") : report.error());
    report->warnings = std::move(warnings);
    return report;
}

}  // namespace reel

#include "jobs.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <system_error>

#include <fmt/format.h>

#include "console.h"
#include "json_writer.h"
#include "preview/preview.h"
#include "probe/probe.h"
#include "tools/process.h"
#include "util/base64.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {

namespace {

// The preview helpers are asked for these sizes by the command line.
constexpr unsigned frame_width = 1280;
constexpr unsigned clip_height = 360;

}  // namespace

int report_failure(std::ostream& err, std::string_view message) {
    err << "error: " << message << "\n" << std::flush;
    return 1;
}

int run_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err,
            bool err_terminal) {
    if (command_line.probe) return run_probe_job(command_line, tools, out, err);
    if (command_line.frame) return run_frame_job(command_line, tools, out, err);
    if (command_line.clip) return run_clip_job(command_line, tools, out, err);
    return run_edit_job(command_line, tools, out, err, err_terminal);
}

int run_probe_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err) {
    const auto info = probe_media(tools, *command_line.movie);
    if (!info) return report_failure(err, info.error());
    out << write_probe_json(*info) << "\n" << std::flush;
    return 0;
}

int run_frame_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err) {
    const FrameRequest& frame = *command_line.frame;
    const auto encoded = grab_frame(tools, *command_line.movie, frame.time, frame_width, true);
    if (!encoded) return report_failure(err, encoded.error());
    return write_preview(*encoded, frame.file, out, err);
}

int run_clip_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err) {
    const ClipRequest& clip = *command_line.clip;
    const auto encoded = make_proxy_clip(tools, *command_line.movie, clip.start, clip.length, clip_height);
    if (!encoded) return report_failure(err, encoded.error());
    return write_preview(*encoded, clip.file, out, err);
}

int run_edit_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err,
                 bool err_terminal) {
    if (command_line.edits.empty()) return report_failure(err, message_with_usage("no edits given"));

    const PipelineOptions options = pipeline_options(command_line);
    if (auto refused = check_output_name(options); !refused) return report_failure(err, refused.error());
    std::vector<std::string> warnings = command_line.warnings;  // the run adds to it; the report carries it
    if (auto replaced = replaced_output_warning(options)) {
        err << "warning: " << *replaced << "\n" << std::flush;
        warnings.push_back(std::move(*replaced));
    }

    RunContext ctx;
    ctx.tools = tools;
    ctx.sink = console_sink(err, command_line.quiet, err_terminal);
    auto progress_shown = std::make_shared<std::atomic<bool>>(false);
    ctx.sink.progress = [show = ctx.sink.progress, progress_shown](const ProgressEvent& event) {
        progress_shown->store(true);
        if (show) show(event);
    };

    // Ctrl+C, a termination request or a closed terminal cancel the run: the
    // running child is stopped, the work folder goes, no partial output stays.
    handle_interrupts(ctx.cancelled.get(), ctx.current_child.get());
    auto report = run_pipeline(ctx, options, warnings);
    handle_interrupts(nullptr, nullptr);
    if (!report) {
        if (!command_line.quiet && err_terminal && progress_shown->load()) err << "\n";  // ends the progress line
        // Whatever a stopped child made of its end, the run was cancelled.
        return report_failure(err, ctx.cancelled->load() ? std::string("Cancelled") : report.error());
    }

    if (!command_line.quiet && err_terminal) err << "\n" << std::flush;  // ends the progress line
    report->warnings = warnings;
    out << write_run_report_json(*report) << "\n" << std::flush;
    return 0;
}

Result<void> check_output_name(const PipelineOptions& options) {
    // Players go by the name: MP4 data under ".mkv" is a file that lies about itself.
    if (options.container == "mp4" && ascii_lower(path_text(options.output.extension())) == ".mkv")
        return fail(fmt::format("--mp4 writes MP4 data, but the output '{}' ends in .mkv", path_text(options.output)));
    return {};
}

std::optional<std::string> replaced_output_warning(const PipelineOptions& options) {
    std::error_code ec;
    // Writing over the movie itself is refused by the run; no warning first.
    if (!std::filesystem::exists(options.output, ec) || output_overwrites_movie(options.output, options.movie))
        return std::nullopt;
    return fmt::format("'{}' already exists and will be replaced when the run succeeds", path_text(options.output));
}

PipelineOptions pipeline_options(const CommandLine& command_line) {
    PipelineOptions options;
    options.movie = path_from_text(command_line.movie.value_or(std::string()));
    options.edits = command_line.edits;
    options.output = output_path(command_line);
    options.container = command_line.mp4 ? "mp4" : "mkv";
    options.cardStyle = CardStyle{};
    options.keepTemp = command_line.keep_temp;
    return options;
}

int write_preview(std::string_view encoded, const std::string& file, std::ostream& out, std::ostream& err) {
    const auto bytes = base64_decode(encoded);
    if (!bytes) return report_failure(err, "the preview helper returned data that is not valid base64");
    if (const auto written = write_file(path_from_text(file), *bytes); !written)
        return report_failure(err, written.error());
    out << "wrote " << file << "\n" << std::flush;
    return 0;
}

}  // namespace reel

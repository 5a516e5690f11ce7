#include "jobs.h"

#include <atomic>
#include <memory>

#include <fmt/format.h>

#include "console.h"
#include "edit_run.h"
#include "json_writer.h"
#include "preview/preview.h"
#include "probe/probe.h"
#include "serve.h"
#include "tools/process.h"
#include "util/base64.h"
#include "util/files.h"

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
    if (command_line.serve) return run_serve_job(command_line, tools, out, err);
    if (command_line.probe) return run_probe_job(command_line, tools, out, err);
    if (command_line.frame) return run_frame_job(command_line, tools, out, err);
    if (command_line.clip) return run_clip_job(command_line, tools, out, err);
    return run_edit_job(command_line, tools, out, err, err_terminal);
}

int run_serve_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err) {
    ServeSettings settings;
    settings.port = command_line.port.value_or(settings.port);
    settings.roots = command_line.roots;
    if (const auto served = serve(settings, tools, out, err); !served) return report_failure(err, served.error());
    return 0;
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
    if (command_line.edits.empty() && !command_line.muteWords)
        return report_failure(err, message_with_usage("no edits given"));

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
    auto report = run_edits(ctx, pipeline_options(command_line), command_line.warnings,
                            [&err](const std::string& warning) { err << "warning: " << warning << "\n" << std::flush; });
    handle_interrupts(nullptr, nullptr);
    if (!report) {
        if (!command_line.quiet && err_terminal && progress_shown->load()) err << "\n";  // ends the progress line
        return report_failure(err, report.error());
    }

    if (!command_line.quiet && err_terminal) err << "\n" << std::flush;  // ends the progress line
    out << write_run_report_json(*report) << "\n" << std::flush;
    return 0;
}

PipelineOptions pipeline_options(const CommandLine& command_line) {
    PipelineOptions options;
    options.movie = path_from_text(command_line.movie.value_or(std::string()));
    options.edits = command_line.edits;
    options.output = output_path(command_line);
    options.container = command_line.container;
    options.cardStyle = CardStyle{};
    options.keepTemp = command_line.keepTemp;
    if (command_line.muteWords) options.muteWords = path_from_text(*command_line.muteWords);
    options.wordsTrack = command_line.wordsTrack;
    options.exact = command_line.exact;
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

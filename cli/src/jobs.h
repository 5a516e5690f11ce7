#pragma once
// The jobs of the command line. Each takes the parsed command line and the
// located tools, writes its result to `out` and its problems to `err`, and
// returns the exit status.
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "command_line.h"
#include "edit_run.h"
#include "pipeline/pipeline.h"
#include "tools/toolset.h"

namespace reel {

// Writes "error: " + message + "\n" and returns 1.
int report_failure(std::ostream& err, std::string_view message);

// First match wins: serve, probe, frame, clip, otherwise the edit run. `err_terminal`:
// standard error is a terminal, where progress is one overwritten line.
int run_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err,
            bool err_terminal = false);

// The web front end, until an interrupt ends it (status 0).
int run_serve_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);
int run_probe_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);
int run_frame_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);
int run_clip_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);
// Refuses MP4 under a .mkv name; warns (on `err` and in the report) before
// an existing output is replaced.
int run_edit_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err,
                 bool err_terminal = false);

// What the edit run hands to the pipeline: every edit (disabled ones included),
// the output path, the container and the default card look.
PipelineOptions pipeline_options(const CommandLine& command_line);

// Decodes a preview helper's base64 result into `file` and announces it with a
// "wrote " line on `out`.
int write_preview(std::string_view encoded, const std::string& file, std::ostream& out, std::ostream& err);

}  // namespace reel

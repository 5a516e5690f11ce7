#pragma once
// The four jobs of the command line. Each takes the parsed command line and the
// located tools, writes its result to `out` and its problems to `err`, and
// returns the exit status.
#include <ostream>
#include <string_view>

#include "command_line.h"
#include "pipeline/pipeline.h"
#include "tools/toolset.h"

namespace reel {

// Writes "error: " + message + "\n" and returns 1.
int report_failure(std::ostream& err, std::string_view message);

// First match wins: probe, frame, clip, otherwise the edit run.
int run_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);

int run_probe_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);
int run_frame_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);
int run_clip_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);
int run_edit_job(const CommandLine& command_line, const ToolSet& tools, std::ostream& out, std::ostream& err);

// What the edit run hands to the pipeline: every edit (disabled ones included),
// the output path, the container and the default card look.
PipelineOptions pipeline_options(const CommandLine& command_line);

// Decodes a preview helper's base64 result into `file` and announces it with a
// "wrote " line on `out`.
int write_preview(std::string_view encoded, const std::string& file, std::ostream& out, std::ostream& err);

}  // namespace reel

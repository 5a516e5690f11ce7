#pragma once
// The steps every front end takes around one edit run, so that the command
// line and the web page edit the same way: the output name is checked, a file
// about to be replaced is announced, the pipeline runs, and the report carries
// the front end's warnings.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/pipeline.h"
#include "util/result.h"

namespace reel {

// Refuses output in another container under a name ending in ".mkv" (any
// letter case), which players would take for Matroska.
Result<void> check_output_name(const PipelineOptions& options);
// The warning for an output file that already stands there, if it does.
std::optional<std::string> replaced_output_warning(const PipelineOptions& options);

// Checks the output name, warns through `warn` (and in the list) before an
// existing output is replaced, then runs the pipeline. `warnings` starts with
// the front end's own (edit-list messages); the run adds to it and the report
// carries it. A run whose cancellation flag was set fails with "Cancelled",
// whatever its stopped child made of its end. Installs no interrupt handling:
// that is the caller's business.
Result<RunReport> run_edits(RunContext& ctx, const PipelineOptions& options, std::vector<std::string> warnings,
                            const std::function<void(const std::string&)>& warn);

}  // namespace reel

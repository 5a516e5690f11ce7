#pragma once
// One edit run: the work folder, the stages and the report.
#include <filesystem>
#include <string>
#include <vector>

#include "cards/card.h"
#include "edits/edit.h"
#include "pipeline/container.h"
#include "pipeline/plan.h"
#include "tools/run.h"
#include "util/result.h"

namespace reel {

struct PipelineOptions {
    std::filesystem::path movie;
    std::vector<Edit> edits;
    std::filesystem::path output;
    OutputContainer container = matroska_container();
    CardStyle cardStyle;
    bool keepTemp = false;
    // Cut on exactly the requested frames: the pictures between a cut and the
    // next keyframe are encoded again, the rest is still copied.
    bool exact = false;
};

struct RunReport {
    std::string output;
    double duration = 0;
    double originalDuration = 0;
    std::vector<std::string> warnings;
    std::vector<AppliedEdit> applied;
    double secondsEncoded = 0;
};

Result<RunReport> run_pipeline(RunContext& ctx, const PipelineOptions& options, std::vector<std::string>& warnings);

}  // namespace reel

#pragma once
// One edit run: the work folder, the stages and the report.
#include <filesystem>
#include <string>
#include <vector>

#include "cards/card.h"
#include "edits/edit.h"
#include "pipeline/plan.h"
#include "tools/run.h"
#include "util/result.h"

namespace reel {

struct PipelineOptions {
    std::filesystem::path movie;
    std::vector<Edit> edits;
    std::filesystem::path output;
    std::string container = "mkv";  // "mkv" or "mp4"
    CardStyle cardStyle;
    bool keepTemp = false;
};

struct RunReport {
    std::string output;
    double duration = 0;
    double originalDuration = 0;
    std::vector<std::string> warnings;
    std::vector<AppliedEdit> applied;
    double secondsEncoded = 0;
};

// Makes the stage current and announces it.
void begin_stage(RunContext& ctx, const std::string& key, double base, double span, const std::string& label);
void report_stage_progress(RunContext& ctx, double fraction, const std::string& label);

// True when writing `output` would replace the movie itself: the same file under
// another spelling or through a link.
bool output_overwrites_movie(const std::filesystem::path& output, const std::filesystem::path& movie);

// The finished file in the work folder, before it takes the output's place:
// "final.mkv", or "final.mp4" for MP4 output.
std::string finished_file_name(const std::string& container);
// Moves the finished file to the output path in one step, replacing a file that
// stood there. Fails with "cannot write the output: " and the system's wording.
Result<void> place_output(const std::filesystem::path& finished, const std::filesystem::path& output);

Result<RunReport> run_pipeline(RunContext& ctx, const PipelineOptions& options, std::vector<std::string>& warnings);

}  // namespace reel

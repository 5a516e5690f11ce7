#pragma once
// One edit run: the work folder, the stages and the report.
#include <cstddef>
#include <filesystem>
#include <optional>
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
    // A word list: the cues that hold a listed word are muted, and the words
    // masked in every text subtitle track.
    std::optional<std::filesystem::path> muteWords{};
    // The subtitle track (1-based) the words are looked for in; absent: the
    // default text track, else the first.
    std::optional<std::size_t> wordsTrack{};
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

#pragma once
// Progress of one run: which stage is current, where it sits in the whole, the
// slices of a stage that its tool runs fill, and the guard that keeps the
// overall percent from stepping back.
#include <algorithm>
#include <string>

#include "pipeline/stage_args.h"
#include "tools/run.h"

namespace reel {

// Decides the percent that reaches the front end. Tool runs report against
// estimates (an expected frame count, a share of the stage) and may overshoot
// their slice, and two runs of one stage would otherwise both start at its base;
// the bar must still only move forward.
class ProgressGuard {
public:
    // `labelled`: an event of the pipeline itself (stage announcement or stage
    // progress), which is never cut back to a slice. `slice_end`: the end of the
    // running tool's slice, in percent.
    double admit(double percent, bool labelled, double slice_end);

private:
    double last_ = 0;
};

// Passes a read's progress on in steps of a percent: a read that reports each
// packet or picture would otherwise call it millions of times.
class PercentSteps {
public:
    explicit PercentSteps(ToolProgress progress) : progress_(std::move(progress)) {}
    void operator()(double fraction) {
        if (!progress_ || fraction < reported_ + 0.01) return;
        reported_ = std::min(fraction, 1.0);
        progress_(reported_);
    }

private:
    ToolProgress progress_;
    double reported_ = 0;
};

class StageProgress {
public:
    // Events go to `sink`'s progress callback, which may be empty.
    explicit StageProgress(ProgressSink sink) : sink_(std::move(sink)) {}

    // Makes the stage current and announces it.
    void begin(const StageInfo& stage);
    // The current stage has come `fraction` of its way.
    void report(double fraction, const std::string& label);
    // The progress of a tool run that fills the slice [from, to] of the current
    // stage (fractions of the stage): its 0..1 becomes the slice's share.
    ToolProgress slice(double from, double to);
    const std::string& stage() const { return key_; }

private:
    void emit(const std::string& label, double fraction_of_run, double slice_end);

    ProgressSink sink_;
    std::string key_;
    double base_ = 0;
    double span_ = 0;
    ProgressGuard guard_;
};

}  // namespace reel

#pragma once
// Progress of one run: stage announcements, slices of a stage for its tool runs,
// and the guard that keeps the overall percent from stepping back.
#include <functional>

#include "pipeline/stage_args.h"
#include "tools/run.h"

namespace reel {

// Announces a row of the stage table.
void begin_stage(RunContext& ctx, const StageInfo& stage);

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

// Routes the context's progress events through a guard for as long as it lives,
// then gives the context its own callback back.
class GuardedProgress {
public:
    explicit GuardedProgress(RunContext& ctx);
    ~GuardedProgress();
    GuardedProgress(const GuardedProgress&) = delete;
    GuardedProgress& operator=(const GuardedProgress&) = delete;

private:
    RunContext& ctx_;
    std::function<void(const ProgressEvent&)> original_;
    ProgressGuard guard_;
};

// Narrows the current stage to the slice [from, to] of its span (fractions of
// the stage) while a tool runs, so the run's own 0-100 % fills only that slice.
class StageSlice {
public:
    StageSlice(RunContext& ctx, double from, double to);
    ~StageSlice();
    StageSlice(const StageSlice&) = delete;
    StageSlice& operator=(const StageSlice&) = delete;

private:
    RunContext& ctx_;
    double base_;
    double span_;
};

}  // namespace reel

#include "pipeline/progress.h"

#include <algorithm>

#include "pipeline/pipeline.h"

namespace reel {

void begin_stage(RunContext& ctx, const std::string& key, double base, double span, const std::string& label) {
    ctx.stage = key;
    ctx.base = base;
    ctx.span = span;
    ctx.emit(ProgressEvent{key, label, base * 100.0});
}

void begin_stage(RunContext& ctx, const StageInfo& stage) {
    begin_stage(ctx, std::string(stage.key), stage.base, stage.span, std::string(stage.label));
}

void report_stage_progress(RunContext& ctx, double fraction, const std::string& label) {
    const double f = std::clamp(fraction, 0.0, 1.0);
    ctx.emit(ProgressEvent{ctx.stage, label, (ctx.base + f * ctx.span) * 100.0});
}

double ProgressGuard::admit(double percent, bool labelled, double slice_end) {
    double value = percent;
    if (!labelled) value = std::min(value, slice_end);
    // Also swallows a NaN: max keeps the last value when the comparison fails.
    value = std::max(last_, value);
    last_ = value;
    return value;
}

GuardedProgress::GuardedProgress(RunContext& ctx) : ctx_(ctx), original_(ctx.sink.progress) {
    ctx_.sink.progress = [this](const ProgressEvent& event) {
        ProgressEvent admitted = event;
        admitted.percent = guard_.admit(event.percent, !event.message.empty(), (ctx_.base + ctx_.span) * 100.0);
        if (original_) original_(admitted);
    };
}

GuardedProgress::~GuardedProgress() { ctx_.sink.progress = original_; }

StageSlice::StageSlice(RunContext& ctx, double from, double to) : ctx_(ctx), base_(ctx.base), span_(ctx.span) {
    ctx_.base = base_ + from * span_;
    ctx_.span = (to - from) * span_;
}

StageSlice::~StageSlice() {
    ctx_.base = base_;
    ctx_.span = span_;
}

}  // namespace reel

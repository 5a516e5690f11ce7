#include "pipeline/progress.h"

#include <algorithm>

namespace reel {

double ProgressGuard::admit(double percent, bool labelled, double slice_end) {
    double value = percent;
    if (!labelled) value = std::min(value, slice_end);
    // Also swallows a NaN: max keeps the last value when the comparison fails.
    value = std::max(last_, value);
    last_ = value;
    return value;
}

void StageProgress::begin(const StageInfo& stage) {
    key_ = std::string(stage.key);
    base_ = stage.base;
    span_ = stage.span;
    emit(std::string(stage.label), base_, base_ + span_);
}

void StageProgress::report(double fraction, const std::string& label) {
    emit(label, base_ + std::clamp(fraction, 0.0, 1.0) * span_, base_ + span_);
}

ToolProgress StageProgress::slice(double from, double to) {
    const double start = base_ + from * span_;
    const double length = (to - from) * span_;
    return [this, start, length](double fraction) { emit("", start + fraction * length, start + length); };
}

void StageProgress::emit(const std::string& label, double fraction_of_run, double slice_end) {
    const double percent = guard_.admit(fraction_of_run * 100.0, !label.empty(), slice_end * 100.0);
    if (sink_.progress) sink_.progress(ProgressEvent{key_, label, percent});
}

}  // namespace reel

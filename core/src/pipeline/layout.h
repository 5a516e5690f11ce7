#pragma once
// Where everything of a cut goes: the output position of every slot of the
// plan, the time map, and what becomes of each stretch of sound. Pure.
#include <cstdint>
#include <vector>

#include "pipeline/audio_cut.h"
#include "pipeline/plan.h"

namespace reel {

struct CutLayout {
    std::vector<double> slotPositions;       // per slot: where it starts in the output
    std::vector<std::int64_t> cardFrames;    // per slot: the card's frames (0 for pieces)
    Timeline timeline;                       // pieces that follow each other in the source are one segment
    std::vector<AudioStretch> stretches;     // kept sound moved with its picture, the rest dropped
    std::vector<SilenceSlot> silence;        // under every card
};

// Frames of the title card for a card edit of the cut list.
std::int64_t title_card_frames_for(const SnappedEdit& edit, double fps);

// Kept pieces last exactly as long as the source they hold (their keyframe
// times), cards their frames; nothing is measured afterwards.
CutLayout layout_cut(const CutPlan& plan, const std::vector<SnappedEdit>& cut, double fps, double duration);

}  // namespace reel

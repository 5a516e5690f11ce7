#pragma once
// Builds a small timeline from the first bytes of a fuzz input, so the retimers
// are exercised with cuts and cards, not only the identity map.
#include <cstddef>
#include <string_view>

#include "pipeline/plan.h"

namespace reel::fuzz {

inline Timeline timeline_from_bytes(std::string_view& data) {
    std::vector<TimelineSegment> segments;
    double cursor = 0;
    std::size_t count = data.empty() ? 0 : static_cast<unsigned char>(data[0]) % 5;
    data.remove_prefix(data.empty() ? 0 : 1);
    for (std::size_t i = 0; i < count && data.size() >= 2; ++i) {
        const double gap = static_cast<unsigned char>(data[0]);
        const double length = static_cast<unsigned char>(data[1]) + 0.5;
        data.remove_prefix(2);
        if (i % 3 == 2) {
            segments.push_back({true, 0, 0, length});
        } else {
            segments.push_back({false, cursor + gap, cursor + gap + length, length});
            cursor += gap + length;
        }
    }
    if (segments.empty()) return Timeline::identity(3600);
    return Timeline::from_segments(std::move(segments));
}

}  // namespace reel::fuzz

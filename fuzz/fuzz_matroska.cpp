// The Matroska index is read straight from the user's file: any bytes must
// give an answer or none, never a crash, and cue times that stay ordered.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "probe/matroska.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto head = reel::parse_matroska_head(bytes)) {
        if (head->timestampScale == 0 || head->segmentData > size) std::abort();
    }
    reel::parse_seek_head(bytes, 1000);
    for (std::uint64_t track : {1, 2}) {
        if (const auto times = reel::parse_cue_times(bytes, track, 1000000)) {
            if (!std::is_sorted(times->begin(), times->end())) std::abort();
            if (std::adjacent_find(times->begin(), times->end()) != times->end()) std::abort();
            if (!std::all_of(times->begin(), times->end(), [](double t) { return std::isfinite(t) && t >= 0; }))
                std::abort();
        }
    }
    return 0;
}

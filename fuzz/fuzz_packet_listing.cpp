// The packet listing and the packet count: the keyframes found lie in the window,
// sorted and without repeats.
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "probe/keyframes.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto times = reel::parse_keyframe_listing(text, 10.0, 40.0);
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (!(times[i] >= 10.0 - 0.0005 && times[i] <= 40.0 + 0.0005)) std::abort();
        if (i > 0 && !(times[i - 1] < times[i])) std::abort();
    }
    if (!times.empty()) (void)reel::nearest_time(times, 25.0);
    (void)reel::parse_frame_count(text, "x.mkv");
    return 0;
}

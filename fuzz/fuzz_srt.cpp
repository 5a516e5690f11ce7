// Extracted subtitle text is whatever the source carried: retiming must never crash.
#include <string_view>

#include "subs/subtitles.h"
#include "timeline_from_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto timeline = reel::fuzz::timeline_from_bytes(text);
    (void)reel::retime_srt(text, timeline);
    return 0;
}

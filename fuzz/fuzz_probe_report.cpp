// ffprobe's report is read tolerantly: any document gives a MediaInfo or a message.
#include <string_view>

#include "probe/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)reel::parse_probe_report(text, "movie.mkv");
    return 0;
}

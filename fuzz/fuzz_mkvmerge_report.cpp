// mkvmerge's identification JSON: a duration or a message, never a crash.
#include <string_view>

#include "probe/keyframes.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)reel::parse_mkvmerge_duration(text);
    return 0;
}

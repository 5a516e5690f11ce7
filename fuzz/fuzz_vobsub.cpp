// VobSub files are whatever the source carried: retiming the index and reading
// or limiting subpicture units must never crash or write outside the .sub.
#include <string>
#include <string_view>

#include "subs/vobsub.h"
#include "timeline_from_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto timeline = reel::fuzz::timeline_from_bytes(bytes);
    // The .idx text, a zero byte, then the .sub.
    const std::size_t split = bytes.find('\0');
    const std::string_view idx = bytes.substr(0, split);
    const std::string sub(split == std::string_view::npos ? std::string_view() : bytes.substr(split + 1));
    (void)reel::retime_vobsub(idx, sub, timeline);
    for (std::size_t pos = sub.find("\x00\x00\x01\xBA", 0, 4); pos != std::string::npos;
         pos = sub.find("\x00\x00\x01\xBA", pos + 1, 4)) {
        std::string copy = sub;
        if (reel::spu_length(sub, pos).has_value() != reel::limit_spu_length(copy, pos, 0.25)) __builtin_trap();
        if (copy.size() != sub.size()) __builtin_trap();
    }
    return 0;
}

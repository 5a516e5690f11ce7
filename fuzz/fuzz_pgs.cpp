// A .sup stream is whatever the source carried: reading and retiming it must
// never crash, and whatever the retimer writes must read back.
#include <cstdlib>
#include <string_view>

#include "subs/pgs.h"
#include "timeline_from_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto timeline = reel::fuzz::timeline_from_bytes(bytes);
    if (auto sets = reel::read_pgs(bytes); sets && reel::write_pgs(*sets) != bytes) std::abort();
    if (auto retimed = reel::retime_pgs(bytes, timeline); retimed && !reel::read_pgs(*retimed)) std::abort();
    return 0;
}

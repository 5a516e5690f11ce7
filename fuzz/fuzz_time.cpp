// Time and number notation: any text must give a value or a message, never a crash,
// and never a non-finite time.
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "edits/time.h"

#include "util/numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)reel::read_number(text);
    if (auto t = reel::parse_time(text); t && !std::isfinite(*t)) std::abort();
    if (auto r = reel::parse_range(text); r && !(r->first < r->second)) std::abort();
    return 0;
}

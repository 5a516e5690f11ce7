// Edit-list files come from users and other programs: every byte string must be
// read into edits and messages, with ordered, finite, non-empty ranges.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "edits/edit_list.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (reel::split_csv_line(text).empty()) std::abort();
    const auto result = reel::parse_edit_list(text, 10.0);
    for (const auto& edit : result.edits) {
        if (!std::isfinite(edit.start) || !std::isfinite(edit.end) || !(edit.start < edit.end)) std::abort();
        if (!std::isfinite(edit.cardSeconds)) std::abort();
    }
    if (!std::is_sorted(result.edits.begin(), result.edits.end(),
                        [](const auto& a, const auto& b) { return a.start < b.start; }))
        std::abort();
    return 0;
}

#pragma once
// Checked number conversions for card values derived from probed or configured
// numbers, which may be absurd (huge frame counts, NaN scales) but must never
// lead to undefined behaviour.
#include <cmath>
#include <cstdint>
#include <limits>

namespace reel {

// Rounds half away from zero into the 64-bit range, clamping values outside
// it; NaN gives 0.
inline std::int64_t clamped_round(double value) {
    if (std::isnan(value)) return 0;
    const double rounded = std::round(value);
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (rounded >= limit) return std::numeric_limits<std::int64_t>::max();
    if (rounded < -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(rounded);
}

}  // namespace reel

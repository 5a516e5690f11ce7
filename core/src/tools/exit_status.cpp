// Wording of how a child ended, shared by both platforms.
#include <cstdint>

#include <fmt/format.h>

#include "tools/process.h"

namespace reel {

std::string exit_status_text(const ExitStatus& status) {
    if (status.signaled) return fmt::format("signal: {} ({})", status.signal, signal_name(status.signal));
    // Windows reports exceptions as 32-bit codes with the top bit set
    // (0xC0000005); such a code reads better in hex. It may arrive either as
    // the unsigned DWORD or sign-extended.
    const bool fits_32_bits = status.code >= INT32_MIN && status.code <= static_cast<std::int64_t>(UINT32_MAX);
    const auto low = static_cast<std::uint32_t>(status.code);
    if (fits_32_bits && (low & 0x80000000u) != 0) return fmt::format("exit code: 0x{:x}", low);
    return fmt::format("exit code: {}", status.code);
}

}  // namespace reel

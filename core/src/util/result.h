#pragma once
// Failures are values: every operation that can fail returns its result or one
// human-readable message, which callers pass on unchanged.
#include <expected>
#include <string>

namespace reel {

template <class T>
using Result = std::expected<T, std::string>;

inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

}  // namespace reel

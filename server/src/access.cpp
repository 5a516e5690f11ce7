#include "access.h"

#include <random>
#include <system_error>

#include <fmt/format.h>

#include "util/files.h"
#include "util/text.h"

namespace reel {

std::string random_token() {
    std::random_device device;
    std::string token;
    for (int i = 0; i < 8; ++i) token += fmt::format("{:08x}", static_cast<std::uint32_t>(device()));
    return token;
}

bool same_token(std::string_view given, std::string_view token) {
    if (given.size() != token.size() || token.empty()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        differ |= static_cast<unsigned char>(given[i] ^ token[i]);
    return differ == 0;
}

bool host_allowed(std::string_view host, int port) {
    const std::string lower = ascii_lower(host);
    for (const std::string_view name : {"127.0.0.1", "localhost"}) {
        if (lower == fmt::format("{}:{}", name, port)) return true;
        if (port == 80 && lower == name) return true;
    }
    return false;
}

std::optional<std::string> cookie_value(std::string_view header, std::string_view name) {
    for (const std::string& pair : split(header, ';')) {
        const std::string_view item = trim(pair);
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && item.substr(0, equals) == name)
            return std::string(item.substr(equals + 1));
    }
    return std::nullopt;
}

std::string token_cookie_name(int port) { return fmt::format("reelmender-{}", port); }

Result<std::vector<std::filesystem::path>> canonical_roots(const std::vector<std::string>& roots) {
    std::vector<std::filesystem::path> canonical;
    for (const std::string& root : roots) {
        std::error_code ec;
        auto path = std::filesystem::canonical(path_from_text(root), ec);
        if (ec) return fail(fmt::format("--root '{}': {}", root, ec.message()));
        if (!std::filesystem::is_directory(path, ec)) return fail(fmt::format("--root '{}' is not a folder", root));
        canonical.push_back(std::move(path));
    }
    return canonical;
}

Result<std::filesystem::path> resolve_inside(const std::filesystem::path& root, std::string_view relative) {
    if (relative.find('\0') != std::string_view::npos || relative.find('\\') != std::string_view::npos)
        return fail(fmt::format("the path '{}' is not allowed", utf8_lossy(relative)));
    const std::filesystem::path path = path_from_text(relative);
    if (path.is_absolute() || path.has_root_name() || path.has_root_directory())
        return fail(fmt::format("absolute paths are not allowed: '{}'", relative));
    for (const auto& part : path)
        if (part == "..") return fail(fmt::format("'..' is not allowed in '{}'", relative));

    std::error_code ec;
    auto resolved = std::filesystem::weakly_canonical(root / path, ec);
    if (ec) return fail(fmt::format("'{}': {}", relative, ec.message()));
    const auto inside = resolved.lexically_relative(root);
    if (inside.empty() || *inside.begin() == "..")
        return fail(fmt::format("'{}' leads outside the allowed folders", relative));
    return resolved;
}

}  // namespace reel

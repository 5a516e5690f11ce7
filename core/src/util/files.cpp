#include "util/files.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace reel {

namespace {
std::string system_text(int error) { return std::generic_category().message(error); }
}  // namespace

Result<std::string> read_file(const std::filesystem::path& path) {
    errno = 0;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return fail(system_text(EISDIR));
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(system_text(errno != 0 ? errno : ENOENT));
    std::string data;
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        data.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (in.eof()) break;
    }
    if (in.bad()) return fail(system_text(errno != 0 ? errno : EIO));
    return data;
}

Result<void> write_file(const std::filesystem::path& path, std::string_view bytes) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return fail(system_text(errno != 0 ? errno : EACCES));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) return fail(system_text(errno != 0 ? errno : EIO));
    return {};
}

std::string path_text(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::filesystem::path path_from_text(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string tool_path_argument(std::string_view path) {
    if (path.starts_with("-")) return "./" + std::string(path);
    return std::string(path);
}

}  // namespace reel

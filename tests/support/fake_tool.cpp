#include "support/fake_tool.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace reel::test {

std::filesystem::path write_fake_tool(const std::filesystem::path& folder, const std::string& name,
                                      std::string_view body) {
    const auto path = folder / name;
    std::filesystem::create_directories(folder);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "#!/bin/sh\n" << body << '\n';
        if (!out) throw std::runtime_error("could not write fake tool " + path.string());
    }
    using std::filesystem::perms;
    std::filesystem::permissions(path, perms::owner_all | perms::group_read | perms::group_exec |
                                           perms::others_read | perms::others_exec);
    return path;
}

std::filesystem::path write_fake_tool(const std::filesystem::path& folder, const std::string& name,
                                      std::string_view stdout_bytes, std::string_view stderr_bytes, int exit_code) {
    std::string body;
    if (!stdout_bytes.empty()) body += shell_print(stdout_bytes) + "\n";
    if (!stderr_bytes.empty()) body += shell_print(stderr_bytes) + " >&2\n";
    body += "exit " + std::to_string(exit_code);
    return write_fake_tool(folder, name, body);
}

std::filesystem::path write_wrapping_tool(const std::filesystem::path& folder, const std::string& name,
                                          const std::string& real, std::string_view before) {
    return write_fake_tool(folder, name, std::string(before) + "\nexec " + shell_quote(real) + " \"$@\"");
}

std::string shell_print(std::string_view bytes) {
    std::string format;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte)) {
            format += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
            format += escaped;
        }
    }
    return "printf '" + format + "'";
}

std::string shell_quote(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace reel::test

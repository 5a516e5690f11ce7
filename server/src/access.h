#pragma once
// Who may talk to the web front end, and which files it may touch. Pure rules,
// apart from the file system lookups that follow links.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace reel {

// 32 random bytes as 64 lower-case hexadecimal digits, new for every start.
std::string random_token();

// Equal texts; the time taken does not depend on where they differ.
bool same_token(std::string_view given, std::string_view token);

// A request's Host header must name this server ("127.0.0.1:PORT" or
// "localhost:PORT"; without the port only for port 80). Anything else is a
// page of another site that reached us through a name rebound to 127.0.0.1.
bool host_allowed(std::string_view host, int port);

// The value of the cookie `name` in a Cookie header.
std::optional<std::string> cookie_value(std::string_view header, std::string_view name);

// Cookies do not tell ports apart: each server names its token cookie after
// its port, so that two of them on one machine do not log each other out.
std::string token_cookie_name(int port);

// The allowed folders, absolute with every link resolved. Fails for one that
// does not exist or is no folder.
Result<std::vector<std::filesystem::path>> canonical_roots(const std::vector<std::string>& roots);

// `relative` ("/" between names) inside the canonical folder `root`, with every
// link resolved; the file itself need not exist. Refused: absolute paths,
// drive names, "..", backslashes and NUL, and a path that links lead out of
// the folder.
Result<std::filesystem::path> resolve_inside(const std::filesystem::path& root, std::string_view relative);

}  // namespace reel

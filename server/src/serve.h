#pragma once
// `reelmender-cli --serve`: the web front end until an interrupt.
#include <ostream>
#include <string>
#include <vector>

#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

struct ServeSettings {
    int port = 8765;                 // 0: any free port
    std::vector<std::string> roots;  // empty: the current folder
};

// Prints "open http://127.0.0.1:PORT/?token=TOKEN" on `out` and serves until
// SIGINT or SIGTERM (Ctrl+C, a closed console on Windows), which cancel a run
// that is going, wait for it and end the server; then succeeds. Fails when a
// root is no folder or the port cannot be had.
Result<void> serve(const ServeSettings& settings, const ToolSet& tools, std::ostream& out, std::ostream& err);

}  // namespace reel

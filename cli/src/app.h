#pragma once
// The whole command-line program behind main(), on any pair of streams so that
// it can run inside a test.
#include <ostream>
#include <string>
#include <vector>

namespace reel {

// Help, parse, movie check, tool discovery, then exactly one job. `args` come
// without the program name. `err_terminal`: `err` is a terminal, which gets the
// overwritten progress line; anything else gets plain lines. Returns the exit
// status (0 or 1).
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool err_terminal = false);

}  // namespace reel

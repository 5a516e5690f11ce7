// Program arguments and standard streams on POSIX: the system already delivers
// argv as bytes (UTF-8 in practice) and writes "\n" unchanged.
#include "tools/process.h"

namespace reel {

std::vector<std::string> program_arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

void prepare_standard_streams() {}

}  // namespace reel

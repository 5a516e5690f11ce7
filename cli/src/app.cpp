#include "app.h"

#include "command_line.h"
#include "jobs.h"
#include "tools/toolset.h"

namespace reel {

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool err_terminal) {
    if (wants_help(args)) {
        out << usage_text() << std::flush;
        return 0;
    }
    // Edit-list problems are shown the moment their file is read, even with
    // --quiet, and never stop the program.
    const auto warn = [&err](const std::string& message) { err << "warning: " << message << "\n" << std::flush; };
    const auto command_line = parse_command_line(args, warn);
    if (!command_line) return report_failure(err, command_line.error());

    // The command line has no settings page: every location comes from the search.
    const auto tools = locate_tools(ToolLocations{});
    if (!tools) return report_failure(err, tools.error());

    return run_job(*command_line, *tools, out, err, err_terminal);
}

}  // namespace reel

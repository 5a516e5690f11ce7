#include "serve.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "access.h"
#include "sockets.h"
#include "tools/process.h"
#include "web_server.h"

namespace reel {

Result<void> serve(const ServeSettings& settings, const ToolSet& tools, std::ostream& out, std::ostream& err) {
    auto roots = canonical_roots(settings.roots.empty() ? std::vector<std::string>{"."} : settings.roots);
    if (!roots) return fail(roots.error());
    ignore_broken_pipes();

    // The interrupt handler only sets this flag (a signal handler may do little
    // more); the loop below sees it and ends the server in order. A second
    // interrupt ends the program at once, as for the command line.
    std::atomic<bool> stop_requested{false};
    handle_interrupts(&stop_requested, nullptr);
    auto server = WebServer::start(ServerConfig{tools, std::move(*roots), settings.port, random_token()});
    if (!server) {
        handle_interrupts(nullptr, nullptr);
        return fail(server.error());
    }
    out << "open " << (*server)->address() << "\n" << std::flush;
    while (!stop_requested.load() && (*server)->running()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const bool interrupted = stop_requested.load();
    if (interrupted) err << "stopping the web front end\n" << std::flush;
    (*server)->stop();
    handle_interrupts(nullptr, nullptr);
    if (!interrupted) return fail("the web server stopped listening");
    return {};
}

}  // namespace reel

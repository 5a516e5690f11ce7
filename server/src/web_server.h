#pragma once
// The web front end's HTTP server: the page, its script and style, and the
// requests behind them, on 127.0.0.1 only. Every request must carry the token
// (in the address or the cookie set from it) and name this server in its Host
// header; files are reached only inside the allowed folders.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/toolset.h"
#include "util/result.h"

namespace reel {

struct ServerConfig {
    ToolSet tools;
    std::vector<std::filesystem::path> roots;  // canonical folders (canonical_roots)
    int port = 8765;                           // 0: any free port
    std::string token;
};

// Largest request body (JSON, an imported edit list).
inline constexpr std::size_t kMaxRequestBody = 1 << 20;
// Longest proxy clip, in seconds: a clip is made whole in memory.
inline constexpr double kMaxClipSeconds = 300;

class WebServer {
public:
    // Binds 127.0.0.1 and serves on threads of its own until stop().
    static Result<std::unique_ptr<WebServer>> start(ServerConfig config);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    int port() const;
    const std::string& token() const;
    // "http://127.0.0.1:PORT/?token=TOKEN"
    std::string address() const;
    // False once the listener has ended (after stop(), or when it failed).
    bool running() const;
    // Cancels a run and waits for it, then stops listening. Idempotent.
    void stop();

    struct Impl;

private:
    explicit WebServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace reel

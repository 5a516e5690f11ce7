#pragma once
// Driving the web front end from tests: the program started with --serve, and
// a headless Debian chromium driven through chromedriver (WebDriver, plain
// HTTP and JSON, so cpp-httplib's client does).
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/process.h"

namespace reel::test {

// `reelmender-cli --serve ...` as a child process, its address read from the
// one line it prints.
class ServedProgram {
public:
    explicit ServedProgram(const std::vector<std::string>& args);
    ~ServedProgram();
    bool started() const { return port_ > 0; }
    int port() const { return port_; }
    const std::string& token() const { return token_; }
    const std::string& first_line() const { return out_; }
    std::string address() const;
    // Sends `signal` and waits for the end; the exit status, or absent when
    // the program was already gone.
    std::optional<ExitStatus> stop(int signal);

private:
    std::unique_ptr<ChildProcess> child_;
    std::string out_;
    std::string err_;
    int port_ = 0;
    std::string token_;
};

// The first `name` on the search path.
std::optional<std::string> find_program(const std::string& name);

// A headless chromium session. Every failing WebDriver command fails the test.
class Browser {
public:
    Browser(const std::string& chromedriver, const std::string& chromium, const std::filesystem::path& work);
    ~Browser();
    bool ready() const { return !session_.empty(); }

    nlohmann::json command(const std::string& method, const std::string& path,
                           const nlohmann::json& body = nlohmann::json::object());
    void open(const std::string& url);
    // Runs `code` (a function body) in the page and returns its value.
    nlohmann::json script(const std::string& code);
    // True once `condition` (an expression) holds; tried every 100 ms, `tries` times.
    bool wait_for(const std::string& condition, int tries = 1200);
    // Presses and releases each character in turn, as a keyboard would.
    void keys(const std::string& keys);
    void click(const std::string& css);
    // Types into the element (WebDriver special keys such as "\uE007", Enter, included).
    void type(const std::string& css, const std::string& text);
    void clear(const std::string& css);
    // The page as PNG bytes, through the DevTools protocol.
    std::string screenshot();

private:
    std::string element(const std::string& css);

    std::unique_ptr<ChildProcess> driver_;
    std::unique_ptr<httplib::Client> client_;
    std::string session_;
};

}  // namespace reel::test

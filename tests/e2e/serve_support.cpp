#include "serve_support.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/media.h"
#include "tools/toolset.h"
#include "util/base64.h"
#include "util/text.h"

namespace reel::test {

namespace fs = std::filesystem;
using nlohmann::json;

ServedProgram::ServedProgram(const std::vector<std::string>& args) {
    auto child = start_child(REELMENDER_CLI_PATH, args);
    if (!child) {
        ADD_FAILURE() << child.error();
        return;
    }
    child_ = std::move(*child);
    // The address line comes first; the program prints nothing else there.
    while (out_.find('\n') == std::string::npos) {
        const auto more = child_->pump([&](std::string_view b) { out_.append(b); },
                                       [&](std::string_view b) { err_.append(b); });
        if (!more || !*more) break;
    }
    std::smatch match;
    static const std::regex line(R"(open http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{64})\n)");
    if (!std::regex_match(out_, match, line)) {
        ADD_FAILURE() << "unexpected first output: '" << out_ << "', standard error: '" << err_ << "'";
        return;
    }
    port_ = std::stoi(match[1]);
    token_ = match[2];
}

ServedProgram::~ServedProgram() {
    if (child_) stop(SIGKILL);
}

std::string ServedProgram::address() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + token_;
}

std::optional<ExitStatus> ServedProgram::stop(int signal) {
    if (!child_) return std::nullopt;
    ::kill(static_cast<pid_t>(child_->pid()), signal);
    for (;;) {
        const auto more = child_->pump([&](std::string_view b) { out_.append(b); },
                                       [&](std::string_view b) { err_.append(b); });
        if (!more || !*more) break;
    }
    auto status = child_->wait();
    child_.reset();
    if (!status) return std::nullopt;
    return *status;
}

std::optional<std::string> find_program(const std::string& name) {
    for (const std::string& folder : split(get_env("PATH").value_or(""), ':')) {
        const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + name;
        if (const auto info = file_info(path); info && info->isRegular && info->executable) return path;
    }
    return std::nullopt;
}

Browser::Browser(const std::string& chromedriver, const std::string& chromium, const fs::path& work) {
    // The driver's log goes to a file: chromium inherits the driver's output,
    // and no pipe of ours must stay open behind it.
    const fs::path log = work / "chromedriver.log";
    auto driver = start_child("/bin/sh", {"-c", "exec \"$0\" --port=0 >\"$1\" 2>&1", chromedriver, log.string()});
    if (!driver) {
        ADD_FAILURE() << driver.error();
        return;
    }
    driver_ = std::move(*driver);
    int port = 0;
    static const std::regex started(R"(started successfully on port (\d+))");
    for (int i = 0; i < 300 && port == 0; ++i) {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        std::smatch match;
        const std::string content = text.str();
        if (std::regex_search(content, match, started)) port = std::stoi(match[1]);
        else std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (port == 0) {
        ADD_FAILURE() << "chromedriver did not start (see " << log << ")";
        return;
    }
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port);
    client_->set_read_timeout(std::chrono::seconds(300));

    // Headless, sandboxed by the test's own folder, and quiet on the network,
    // which is closed here anyway.
    const json arguments = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                            "--disable-background-networking", "--disable-component-update", "--disable-sync",
                            "--disable-dev-shm-usage", "--window-size=1280,1000",
                            "--user-data-dir=" + (work / "profile").string()};
    const json session = command(
        "POST", "/session",
        {{"capabilities",
          {{"alwaysMatch", {{"browserName", "chrome"}, {"goog:chromeOptions", {{"binary", chromium}, {"args", arguments}}}}}}}});
    if (session.is_object() && session.contains("sessionId")) session_ = session["sessionId"];
}

Browser::~Browser() {
    if (!session_.empty()) client_->Delete("/session/" + session_);
    driver_.reset();  // kills chromedriver
}

json Browser::command(const std::string& method, const std::string& path, const json& body) {
    if (!client_) return json();
    const std::string url = session_.empty() || path == "/session" ? path : "/session/" + session_ + path;
    const auto res = method == "GET"    ? client_->Get(url)
                     : method == "DELETE" ? client_->Delete(url)
                                          : client_->Post(url, body.dump(), "application/json");
    if (!res) {
        ADD_FAILURE() << method << " " << url << ": " << httplib::to_string(res.error());
        return json();
    }
    const json answer = json::parse(res->body, nullptr, false);
    if (res->status != 200 || answer.is_discarded()) {
        ADD_FAILURE() << method << " " << url << ": " << res->status << " " << res->body.substr(0, 2000);
        return json();
    }
    return answer.value("value", json());
}

void Browser::open(const std::string& url) { command("POST", "/url", {{"url", url}}); }

json Browser::script(const std::string& code) {
    return command("POST", "/execute/sync", {{"script", code}, {"args", json::array()}});
}

bool Browser::wait_for(const std::string& condition, int tries) {
    for (int i = 0; i < tries; ++i) {
        const json value = script("return Boolean(" + condition + ");");
        if (value == true) return true;
        if (!value.is_boolean()) return false;  // the command failed
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void Browser::keys(const std::string& keys) {
    json actions = json::array();
    for (const char key : keys) {
        actions.push_back({{"type", "keyDown"}, {"value", std::string(1, key)}});
        actions.push_back({{"type", "keyUp"}, {"value", std::string(1, key)}});
    }
    command("POST", "/actions", {{"actions", {{{"type", "key"}, {"id", "keyboard"}, {"actions", actions}}}}});
}

std::string Browser::element(const std::string& css) {
    const json found = command("POST", "/element", {{"using", "css selector"}, {"value", css}});
    return found.is_object() ? found.value("element-6066-11e4-a52e-4f735466cecf", std::string()) : std::string();
}

void Browser::click(const std::string& css) { command("POST", "/element/" + element(css) + "/click"); }

void Browser::type(const std::string& css, const std::string& text) {
    command("POST", "/element/" + element(css) + "/value", {{"text", text}});
}

void Browser::clear(const std::string& css) { command("POST", "/element/" + element(css) + "/clear"); }

std::string Browser::screenshot() {
    const json shot = command("POST", "/goog/cdp/execute",
                              {{"cmd", "Page.captureScreenshot"}, {"params", {{"format", "png"}}}});
    const auto bytes = base64_decode(shot.is_object() ? shot.value("data", std::string()) : std::string());
    return bytes.value_or(std::string());
}

}  // namespace reel::test

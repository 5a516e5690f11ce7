// The web front end's guards, against a running server on 127.0.0.1: every
// refusal with its status. Nothing here needs the media tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "access.h"
#include "support/temp_dir.h"
#include "web_server.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

class Guards : public testing::Test {
protected:
    void SetUp() override {
        dir_.write("root/movie.mkv", "not really a movie");
        dir_.write("root/sub/other.mkv", "");
        dir_.write("outside/secret.mkv", "secret");
        fs::create_symlink(dir_ / "outside" / "secret.mkv", dir_ / "root" / "link.mkv");
        fs::create_directory_symlink(dir_ / "outside", dir_ / "root" / "linked");
        auto roots = canonical_roots({(dir_ / "root").string()});
        ASSERT_TRUE(roots) << roots.error();
        auto server = WebServer::start(ServerConfig{ToolSet{}, *roots, 0, random_token()});
        ASSERT_TRUE(server) << server.error();
        server_ = std::move(*server);
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
    }

    std::string with_token(const std::string& path) const {
        return path + (path.find('?') == std::string::npos ? "?" : "&") + "token=" + server_->token();
    }
    int get(const std::string& path, const httplib::Headers& headers = {}) {
        const auto res = client_->Get(path, headers);
        return res ? res->status : -1;
    }
    int post(const std::string& path, const std::string& body, const char* type = "application/json") {
        const auto res = client_->Post(path, body, type);
        return res ? res->status : -1;
    }

    test::TempDir dir_;
    std::unique_ptr<WebServer> server_;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(Guards, EveryRequestNeedsTheToken) {
    for (const char* path : {"/", "/app.js", "/api/roots", "/api/list?root=0&path=", "/api/events"})
        EXPECT_EQ(get(path), 401) << path;
    EXPECT_EQ(post("/api/run", "{}"), 401);
    EXPECT_EQ(post("/api/cancel", "{}"), 401);
    EXPECT_EQ(get("/?token=" + std::string(64, '0')), 401);
    EXPECT_EQ(get("/", {{"Cookie", token_cookie_name(server_->port()) + "=" + std::string(64, 'f')}}), 401);

    // The address with the token sets the cookie, and the cookie alone will do.
    const auto page = client_->Get(with_token("/"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<script src=\"/app.js\">"), std::string::npos);
    const std::string cookie = page->get_header_value("Set-Cookie");
    EXPECT_EQ(cookie, token_cookie_name(server_->port()) + "=" + server_->token() + "; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_EQ(get("/api/roots", {{"Cookie", cookie.substr(0, cookie.find(';'))}}), 200);
}

TEST_F(Guards, ForeignHostHeadersAreRefused) {
    const std::string port = std::to_string(server_->port());
    EXPECT_EQ(get(with_token("/"), {{"Host", "evil.example:" + port}}), 403);
    EXPECT_EQ(get(with_token("/"), {{"Host", "127.0.0.1.evil.example:" + port}}), 403);
    EXPECT_EQ(get(with_token("/"), {{"Host", "127.0.0.1:1" + port}}), 403);
    EXPECT_EQ(get(with_token("/"), {{"Host", "localhost:" + port}}), 200);
    EXPECT_EQ(get(with_token("/"), {{"Host", "127.0.0.1:" + port}}), 200);
}

TEST_F(Guards, NothingOutsideTheRoot) {
    struct Case { std::string path; int status; };
    const Case cases[] = {
        {"/api/list?root=0&path=", 200},
        {"/api/list?root=0&path=..", 403},
        {"/api/list?root=0&path=sub/../..", 403},
        {"/api/list?root=0&path=linked", 403},  // a link to a folder outside
        {"/api/list?root=0&path=" + (dir_ / "outside").string(), 403},  // an absolute path
        {"/api/list?root=1&path=", 404},
        {"/api/probe?root=0&path=../outside/secret.mkv", 403},
        {"/api/probe?root=0&path=link.mkv", 403},  // a link to a file outside
        {"/api/frame?root=0&path=linked/secret.mkv&t=1", 403},
        {"/api/clip?root=0&path=%2Fetc%2Fpasswd&start=0&length=1", 403},
        {"/api/probe?root=0&path=missing.mkv", 404},
    };
    for (const Case& c : cases) EXPECT_EQ(get(with_token(c.path)), c.status) << c.path;

    // The listing does not offer the links that lead out.
    const auto listing = client_->Get(with_token("/api/list?root=0&path="));
    ASSERT_TRUE(listing);
    const auto body = nlohmann::json::parse(listing->body);
    EXPECT_EQ(body["folders"], nlohmann::json::array({"sub"}));
    ASSERT_EQ(body["files"].size(), 1u);
    EXPECT_EQ(body["files"][0]["name"], "movie.mkv");

    // Nor can a run read or write there.
    const auto run = [&](const std::string& movie, const std::string& output) {
        nlohmann::json body = {{"root", 0}, {"movie", movie}, {"output", output},
                               {"edits", {{{"action", "remove"}, {"start", 1}, {"end", 2}}}}};
        return post(with_token("/api/run"), body.dump());
    };
    EXPECT_EQ(run("../outside/secret.mkv", "out.mkv"), 403);
    EXPECT_EQ(run("link.mkv", "out.mkv"), 403);
    EXPECT_EQ(run("movie.mkv", "../out.mkv"), 403);
    EXPECT_EQ(run("movie.mkv", "linked/out.mkv"), 403);
    EXPECT_EQ(run("movie.mkv", (dir_ / "out.mkv").string()), 403);
    EXPECT_FALSE(fs::exists(dir_ / "out.mkv"));
    EXPECT_FALSE(fs::exists(dir_ / "outside" / "out.mkv"));
}

TEST_F(Guards, BadRequestsAndOversizedBodies) {
    EXPECT_EQ(post(with_token("/api/run"), "not json"), 400);
    EXPECT_EQ(post(with_token("/api/run"), R"({"root":0,"movie":"movie.mkv","output":"o.mkv","edits":[]})"), 400);
    EXPECT_EQ(post(with_token("/api/export?format=xml"), R"({"edits":[]})"), 400);
    EXPECT_EQ(get(with_token("/api/clip?root=0&path=movie.mkv&start=0&length=301")), 400);
    EXPECT_EQ(post(with_token("/api/cancel"), "{}"), 409);  // no run to cancel

    const std::string list = "start,end,action\n1,2,remove\n";
    EXPECT_EQ(post(with_token("/api/import?name=cuts.csv"), list, "text/plain"), 200);
    EXPECT_EQ(post(with_token("/api/import?name=cuts.csv"), list + std::string(kMaxRequestBody, ' '), "text/plain"), 413);
    EXPECT_EQ(post(with_token("/api/import?name=cuts.csv"), "\xff\xfe", "text/plain"), 400);
}

}  // namespace
}  // namespace reel

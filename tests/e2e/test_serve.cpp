// `reelmender-cli --serve`: its address line, its clean end on an interrupt,
// and an edit run through it that a second run cannot join and that cancel
// stops in the middle of a tool.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "access.h"
#include "serve_support.h"
#include "support/fake_tool.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "web_server.h"

namespace reel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

TEST(ServeCli, PrintsItsAddressAndEndsCleanlyOnAnInterrupt) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        test::TempDir dir;
        test::ServedProgram served({"--serve", "--port", "0", "--root", dir.path().string()});
        ASSERT_TRUE(served.started());
        httplib::Client client("127.0.0.1", served.port());
        const auto page = client.Get("/?token=" + served.token());
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
        EXPECT_NE(page->body.find("<title>reelmender</title>"), std::string::npos);

        const auto status = served.stop(signal);
        ASSERT_TRUE(status);
        EXPECT_FALSE(status->signaled) << status->signal;
        EXPECT_EQ(status->code, 0);
    }
}

// Reads the event stream until the run's end and returns its data.
json run_end(httplib::Client& client, const std::string& token) {
    std::string stream;
    json end;
    client.Get("/api/events?token=" + token, [&](const char* data, std::size_t size) {
        stream.append(data, size);
        const std::size_t at = stream.find("event: end\ndata: ");
        const std::size_t line_end = at == std::string::npos ? at : stream.find('\n', at + 17);
        if (line_end == std::string::npos) return true;
        end = json::parse(stream.substr(at + 17, line_end - at - 17));
        return false;
    });
    return end;
}

TEST(ServeRun, OneRunAtATimeAndCancelStopsTheRunningTool) {
    test::MovieSpec spec;
    spec.duration = 6;
    spec.audio = {{}};
    // ASS subtitles: the final file is mkvmerge's to write.
    spec.subtitles = {{.format = test::SubtitleFormat::Ass}};
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    auto tools = test::test_tools();
    ASSERT_TRUE(tools) << tools.error();

    test::TempDir dir;
    fs::create_directories(dir / "root");
    fs::copy_file(*movie, dir / "root" / "movie.mkv");
    // mkvmerge that never finishes by itself: the run is still going when the
    // second one is asked for, and only a kill ends it.
    const fs::path started = dir / "mkvmerge-started";
    tools->mkvmerge = test::write_fake_tool(dir / "bin", "mkvmerge",
                                            "echo $$ > " + test::shell_quote(started.string()) + "\nexec sleep 300").string();
    tools->mkvpropedit.reset();
    auto roots = canonical_roots({(dir / "root").string()});
    ASSERT_TRUE(roots) << roots.error();
    auto server = WebServer::start(ServerConfig{*tools, *roots, 0, random_token()});
    ASSERT_TRUE(server) << server.error();
    httplib::Client client("127.0.0.1", (*server)->port());
    client.set_read_timeout(std::chrono::seconds(120));
    const std::string token = (*server)->token();

    const json run = {{"root", 0}, {"movie", "movie.mkv"}, {"output", "movie (edited).mkv"},
                      {"edits", {{{"action", "remove"}, {"start", 2}, {"end", 4}}}}};
    const auto first = client.Post("/api/run?token=" + token, run.dump(), "application/json");
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 202) << first->body;
    for (int i = 0; i < 600 && !fs::exists(started); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(fs::exists(started)) << "the run never reached mkvmerge";

    const auto second = client.Post("/api/run?token=" + token, run.dump(), "application/json");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 409) << second->body;

    const auto cancel = client.Post("/api/cancel?token=" + token, "{}", "application/json");
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->status, 200);
    const json end = run_end(client, token);
    EXPECT_EQ(end.value("ok", true), false);
    EXPECT_EQ(end.value("error", std::string()), "Cancelled");

    // The killed tool is gone, and with it the run's work folder; nothing was written.
    const std::string pid = test::slurp(started);
    EXPECT_FALSE(process_running(static_cast<std::uint32_t>(std::stoul(pid)))) << pid;
    for (const auto& entry : fs::directory_iterator(dir / "root"))
        EXPECT_EQ(entry.path().filename(), "movie.mkv") << entry.path();
    const auto again = client.Post("/api/cancel?token=" + token, "{}", "application/json");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 409);
}

}  // namespace
}  // namespace reel

// The web front end in a real browser: Debian's chromium, headless, opens a
// generated movie, marks a remove edit and a title card with the keyboard,
// plays a stretch, runs the edits, and the written file is checked with
// ffprobe. Set REELMENDER_SCREENSHOTS to a folder to keep the page's pictures.
#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "serve_support.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "util/files.h"

namespace reel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

void keep_screenshot(test::Browser& browser, const std::string& name) {
    const std::string png = browser.screenshot();
    ASSERT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n")) << "no PNG from the DevTools protocol";
    if (const auto folder = get_env("REELMENDER_SCREENSHOTS")) {
        const auto written = write_file(path_from_text(*folder) / name, png);
        EXPECT_TRUE(written) << written.error();
    }
}

std::string text_of(test::Browser& browser, const std::string& id) {
    return browser.script("return document.getElementById('" + id + "').textContent;").get<std::string>();
}

TEST(ServeBrowser, MarksEditsWithTheKeyboardRunsThemAndShowsEveryCut) {
    const auto chromium = test::find_program("chromium");
    const auto chromedriver = test::find_program("chromedriver");
    if (!chromium || !chromedriver)
        GTEST_SKIP() << "chromium or chromedriver is not installed (scripts/setup.sh installs the Debian packages "
                        "chromium and chromium-driver): the browser test cannot run";

    test::MovieSpec spec;
    spec.duration = 12;
    spec.keyframe_interval = 25;  // a keyframe every second: the cuts fall where they are marked
    spec.audio = {{}};
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    test::TempDir dir;
    const fs::path root = dir / "films";
    fs::create_directories(root);
    fs::copy_file(*movie, root / "movie.mkv");

    test::ServedProgram served({"--serve", "--port", "0", "--root", root.string()});
    ASSERT_TRUE(served.started());
    test::Browser browser(*chromedriver, *chromium, dir.path());
    ASSERT_TRUE(browser.ready());
    browser.open(served.address());

    // Open the movie: its streams, its thumbnail strip and the frame at the playhead.
    ASSERT_TRUE(browser.wait_for("document.querySelector('#files button[data-name=\"movie.mkv\"]')"));
    browser.click("#files button[data-name=\"movie.mkv\"]");
    ASSERT_TRUE(browser.wait_for("document.body.dataset.strip === 'loaded'")) << text_of(browser, "message");
    EXPECT_EQ(browser.script("return [...document.querySelectorAll('#strip img')].filter(i => i.naturalWidth > 0).length;"), 12);
    EXPECT_NE(text_of(browser, "streams").find("h264 640×360, 25.000 fps"), std::string::npos) << text_of(browser, "streams");
    EXPECT_TRUE(text_of(browser, "duration").starts_with("0:12.")) << text_of(browser, "duration");

    // A remove edit from 2 s to 4 s: L steps a second, I and O mark, A adds.
    browser.keys("ll");
    EXPECT_EQ(text_of(browser, "time"), "0:02.000");
    browser.keys("i");
    browser.keys("lll");
    browser.keys("j");
    browser.keys("o");
    EXPECT_EQ(text_of(browser, "in"), "0:02.000");
    EXPECT_EQ(text_of(browser, "out"), "0:04.000");
    browser.keys("a");

    // A 2-second title card in place of 6 s to 8 s, its text typed and Enter pressed.
    browser.keys("lli");
    browser.keys("llo");
    browser.click("#action option[value=\"replace\"]");
    browser.clear("#card-seconds");
    browser.type("#card-seconds", "2");
    browser.type("#card-text", "Later that day\uE007");
    const json rows = browser.script(
        "return [...document.querySelectorAll('#edit-rows tr')].map(r => [r.querySelector('select').value, "
        "r.querySelector('.start').value, r.querySelector('.end').value, r.querySelector('.text').value, "
        "r.querySelector('.seconds').value]);");
    EXPECT_EQ(rows, json::parse(R"([["remove", "0:02.000", "0:04.000", "", "10"],
                                    ["replace", "0:06.000", "0:08.000", "Later that day", "2"]])"));
    EXPECT_EQ(browser.script("return [...document.querySelectorAll('#marks .range')].map(m => m.className);"),
              json::parse(R"(["range remove", "range replace"])"));
    ASSERT_TRUE(browser.wait_for("document.getElementById('frame').complete && "
                                 "document.getElementById('frame').naturalWidth > 0"));
    keep_screenshot(browser, "serve-page.png");

    // Space plays a proxy clip from the playhead, K stops it where it got to.
    browser.keys(" ");
    ASSERT_TRUE(browser.wait_for("document.getElementById('time').textContent !== '0:08.000' || "
                                 "document.getElementById('message').textContent"));
    EXPECT_EQ(text_of(browser, "message"), "");
    browser.keys("k");
    EXPECT_EQ(browser.script("return document.getElementById('player').hidden;"), true);
    EXPECT_GT(text_of(browser, "time"), "0:08.000");

    // Run, follow the progress to the report and its pictures of every cut.
    browser.click("#run");
    ASSERT_TRUE(browser.wait_for("document.body.dataset.run === 'done' || "
                                 "document.getElementById('message').className === 'error'", 3000));
    ASSERT_EQ(text_of(browser, "message"), "");
    EXPECT_EQ(browser.script("return document.getElementById('progress').value;"), 100);
    EXPECT_EQ(browser.script("return document.querySelectorAll('#applied-rows tr').length;"), 2);
    EXPECT_EQ(browser.script("return document.querySelectorAll('#cuts .cut img').length;"), 4);
    EXPECT_TRUE(browser.wait_for("[...document.querySelectorAll('#cuts img')].every(i => i.complete && i.naturalWidth > 0)"));
    browser.script("document.getElementById('report').scrollIntoView();");
    keep_screenshot(browser, "serve-report.png");

    // 12 s less the 2 s removed, and 2 s that became a 2-second card.
    const fs::path output = root / "movie (edited).mkv";
    ASSERT_TRUE(fs::exists(output));
    const json report = test::ffprobe_report(output);
    EXPECT_NEAR(std::stod(report["format"]["duration"].get<std::string>()), 10.0, 0.1);
    ASSERT_EQ(report["streams"].size(), 2u);
    EXPECT_EQ(report["streams"][0]["codec_name"], "h264");
    EXPECT_EQ(report["streams"][1]["codec_name"], "aac");

    const auto status = served.stop(SIGTERM);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 0);
}

}  // namespace
}  // namespace reel

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "console.h"

namespace reel {
namespace {

TEST(ProgressLine, RightAlignedPercentAndPaddedMessage) {
    EXPECT_EQ(render_progress_line({"probe", "Reading the movie", 7.26}),
              "\r  7.3%  Reading the movie" + std::string(43, ' '));
    EXPECT_EQ(render_progress_line({"done", "Done", 100}), "\r100.0%  Done" + std::string(56, ' '));
    EXPECT_EQ(render_progress_line({"x", "", 0}), "\r  0.0%  " + std::string(60, ' '));
    EXPECT_EQ(render_progress_line({"x", "m", 12.34}), "\r 12.3%  m" + std::string(59, ' '));

    const std::string long_message(75, 'm');  // longer messages are not cut
    EXPECT_EQ(render_progress_line({"x", long_message, 50}), "\r 50.0%  " + long_message);
    const std::string exact(60, 'e');
    EXPECT_EQ(render_progress_line({"x", exact, 50}), "\r 50.0%  " + exact);

    // Padding counts characters, not bytes.
    EXPECT_EQ(render_progress_line({"x", "Schnitt \xC3\xBC", 1}), "\r  1.0%  Schnitt \xC3\xBC" + std::string(51, ' '));
}

TEST(LogFilter, CommandLinesWarningsAndErrorsOnly) {
    struct Case { std::string line; bool shown; };
    const Case cases[] = {
        {"> ffmpeg -i a.mkv", true},
        {"> mkvmerge -o x.mkv", true},
        {">ffmpeg", false},
        {" > ffmpeg", false},
        {"Warning: something", true},
        {"[aac] Error while decoding", true},
        {"xWarningx", true},
        {"warning: lower case", false},
        {"ERROR", false},
        {"frame=  100 fps=25", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(log_line_shown(c.line), c.shown) << c.line;
    EXPECT_EQ(render_log_line("> ffmpeg -y"), "\n> ffmpeg -y\n");
}

TEST(ConsoleSink, WritesOrStaysQuiet) {
    std::ostringstream err;
    const ProgressSink sink = console_sink(err, false);
    sink.progress({"probe", "Reading", 5});
    sink.log("frame=1");
    sink.log("> ffmpeg -i x");
    EXPECT_EQ(err.str(), "\r  5.0%  Reading" + std::string(53, ' ') + "\n> ffmpeg -i x\n");

    std::ostringstream quiet_err;
    const ProgressSink quiet = console_sink(quiet_err, true);
    quiet.progress({"probe", "Reading", 5});
    quiet.log("> ffmpeg -i x");
    quiet.log("Error");
    EXPECT_EQ(quiet_err.str(), "");
}

TEST(PlainProgress, ALinePerStageAndAtMostOnePerTenth) {
    std::ostringstream err;
    const ProgressSink sink = console_sink(err, false, false);
    for (const ProgressEvent& event : std::vector<ProgressEvent>{
             {"probe", "Reading the movie", 0}, {"cards", "Rendering title cards", 65}, {"cards", "", 66},
             {"cards", "", 69.9}, {"cards", "", 70.2}, {"cards", "", 75}, {"cards", "Card 2", 80},
             {"done", "Done", 100}})
        sink.progress(event);
    sink.log("> ffmpeg -i x");
    EXPECT_EQ(err.str(), "  0.0%  Reading the movie\n 65.0%  Rendering title cards\n 70.2%  Rendering title cards\n"
                         " 80.0%  Card 2\n100.0%  Done\n> ffmpeg -i x\n");
}

}  // namespace
}  // namespace reel

// Subtitle tracks and chapters rebuilt for a cut movie with the real ffmpeg,
// then muxed by the real mkvmerge and read back by ffprobe.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "probe/probe.h"
#include "subs/chapters.h"
#include "subs/subtitles.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "tools/run.h"
#include "util/files.h"

namespace reel {
namespace {

using Args = std::vector<std::string>;

// 4-8 s removed from a 12 s movie.
Timeline cut_four_to_eight() {
    Timeline t;
    t.segments = {{false, 0, 4, 4}, {false, 8, 12, 4}};
    t.offsets = {0, 4};
    return t;
}

std::vector<std::string> lines_starting_with(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        if (line.starts_with(prefix)) found.push_back(line);
        pos = end + 1;
    }
    return found;
}

class SubtitleRetiming : public testing::Test {
protected:
    void SetUp() override {
        auto found = test::test_tools();
        ASSERT_TRUE(found.has_value()) << found.error();
        ctx.tools = *found;

        const std::vector<test::SubtitleCue> cues{
            {0.5, 1.5, "One"}, {3.5, 5, "Straddle"}, {5, 6, "Gone"}, {9, 10, "Moved, with comma"}};
        test::MovieSpec spec;
        spec.duration = 12;
        test::SubtitleTrackSpec srt;
        srt.language = "eng";
        srt.title = "English";
        srt.is_default = true;
        srt.cues = cues;
        test::SubtitleTrackSpec ass;
        ass.format = test::SubtitleFormat::Ass;
        ass.language = "fre";
        ass.forced = true;
        ass.cues = cues;
        spec.subtitles = {srt, ass};
        test::PgsTrackSpec pgs;
        pgs.language = "jpn";
        spec.image_subtitles = {pgs};
        for (const auto& [start, title] : std::vector<std::pair<double, std::string>>{
                 {0, "Intro"}, {5, "Middle & <end>"}, {9, "Late \"one\""}}) {
            test::ChapterSpec chapter;
            chapter.start = start;
            chapter.title = title;
            spec.chapters.push_back(chapter);
        }
        auto movie = test::test_movie(spec);
        ASSERT_TRUE(movie.has_value()) << movie.error();
        auto probed = probe_media(ctx.tools, *movie);
        ASSERT_TRUE(probed.has_value()) << probed.error();
        info = *probed;
        ASSERT_EQ(info.subtitles.size(), 3u);
        ASSERT_EQ(info.chapters.size(), 3u);
    }

    RunContext ctx;
    MediaInfo info;
    test::TempDir dir;
};

TEST_F(SubtitleRetiming, TracksAndChaptersFollowTheCut) {
    std::vector<std::string> warnings;
    const auto args = retime_subtitles(ctx.tools, info, info.path, cut_four_to_eight(), dir.path(), true, warnings);
    ASSERT_TRUE(args.has_value()) << args.error();

    EXPECT_TRUE(warnings.empty()) << warnings.front();
    const std::string srt = path_text(dir / "sub-00.srt");
    const std::string ass = path_text(dir / "sub-01.ass");
    const std::string sup = path_text(dir / "sub-02.sup");
    EXPECT_EQ(*args, (Args{"--language", "0:eng", "--track-name", "0:English", "--default-track-flag", "0:yes",
                           "--forced-display-flag", "0:no", srt, "--language", "0:fre", "--default-track-flag", "0:no",
                           "--forced-display-flag", "0:yes", ass, "--language", "0:jpn", "--default-track-flag", "0:no",
                           "--forced-display-flag", "0:no", sup}));

    EXPECT_EQ(test::slurp(srt),
              "1\n00:00:00,500 --> 00:00:01,500\nOne\n\n"
              "2\n00:00:03,500 --> 00:00:04,000\nStraddle\n\n"
              "3\n00:00:05,000 --> 00:00:06,000\nMoved, with comma\n\n");

    const auto events = lines_starting_with(test::slurp(ass), "Dialogue:");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_NE(events[0].find(",0:00:00.50,0:00:01.50,"), std::string::npos) << events[0];
    EXPECT_NE(events[1].find(",0:00:03.50,0:00:04.00,"), std::string::npos) << events[1];
    EXPECT_NE(events[2].find(",0:00:05.00,0:00:06.00,"), std::string::npos) << events[2];
    EXPECT_TRUE(events[2].ends_with(",Moved, with comma")) << events[2];
    EXPECT_FALSE(lines_starting_with(test::slurp(ass), "[Script Info]").empty());

    const auto chapters = build_chapters(info.chapters, cut_four_to_eight(), dir.path());
    ASSERT_TRUE(chapters.has_value()) << chapters.error();
    ASSERT_EQ(chapters->size(), 2u);  // "--chapters" and the file

    // mkvmerge takes both files and the chapters; ffprobe reads them back.
    Args mux{"-o", path_text(dir / "out.mkv")};
    mux.insert(mux.end(), chapters->begin(), chapters->end());
    for (const char* item : {"--no-subtitles", "--no-chapters"}) mux.emplace_back(item);
    mux.push_back(info.path);
    mux.insert(mux.end(), args->begin(), args->end());
    auto muxed = test::run_program(*ctx.tools.mkvmerge, mux);
    ASSERT_TRUE(muxed.has_value()) << muxed.error();
    ASSERT_LE(muxed->exit_code, 1) << muxed->out << muxed->err;

    auto out = probe_media(ctx.tools, path_text(dir / "out.mkv"));
    ASSERT_TRUE(out.has_value()) << out.error();
    ASSERT_EQ(out->subtitles.size(), 3u);
    EXPECT_EQ(out->subtitles[2].codec, "hdmv_pgs_subtitle");
    EXPECT_EQ(out->subtitles[2].language, "jpn");
    EXPECT_EQ(out->subtitles[0].codec, "subrip");
    EXPECT_EQ(out->subtitles[0].language, "eng");
    EXPECT_EQ(out->subtitles[0].title, "English");
    EXPECT_EQ(out->subtitles[1].codec, "ass");
    EXPECT_EQ(out->subtitles[1].language, "fre");
    EXPECT_TRUE(out->subtitles[1].forced);
    // The middle chapter lost its opening to the cut: it begins at the cut.
    ASSERT_EQ(out->chapters.size(), 3u);
    EXPECT_DOUBLE_EQ(out->chapters[0].start, 0);
    EXPECT_EQ(out->chapters[0].title, "Intro");
    EXPECT_DOUBLE_EQ(out->chapters[1].start, 4);
    EXPECT_EQ(out->chapters[1].title, "Middle & <end>");
    EXPECT_DOUBLE_EQ(out->chapters[2].start, 5);
    EXPECT_EQ(out->chapters[2].title, "Late \"one\"");
}

TEST_F(SubtitleRetiming, ExtractionFailureDropsTheTrackWithAWarning) {
    MediaInfo text_only = info;
    text_only.subtitles.resize(1);
    std::vector<std::string> warnings;
    const auto args =
        retime_subtitles(ctx.tools, text_only, path_text(dir / "missing.mkv"), cut_four_to_eight(), dir.path(), true,
                         warnings);
    ASSERT_TRUE(args.has_value()) << args.error();
    EXPECT_TRUE(args->empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].starts_with(
        "Subtitle track 1 could not be extracted and was dropped: ffmpeg exited with exit code: 1:\n"))
        << warnings[0];
    EXPECT_NE(warnings[0].find("missing.mkv"), std::string::npos) << warnings[0];
}

TEST_F(SubtitleRetiming, AnUnwritableWorkFolderFailsTheRun) {
    std::vector<std::string> warnings;
    const auto args = retime_subtitles(ctx.tools, info, info.path, cut_four_to_eight(), dir / "missing", true, warnings);
    ASSERT_FALSE(args.has_value());
    EXPECT_EQ(args.error(), "No such file or directory");
}

}  // namespace
}  // namespace reel

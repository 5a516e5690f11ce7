// MP4 output: a streamable file (index before the media data), text subtitles
// as MP4 timed text, HEVC under the sample entry Apple players accept.
#include <cstdint>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "probe/probe.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

// Types of the top-level boxes of an MP4 file, in file order.
std::vector<std::string> top_level_boxes(const std::string& bytes) {
    std::vector<std::string> boxes;
    std::size_t pos = 0;
    while (pos + 8 <= bytes.size()) {
        std::uint64_t size = 0;
        for (int i = 0; i < 4; ++i) size = (size << 8) | static_cast<unsigned char>(bytes[pos + i]);
        boxes.push_back(bytes.substr(pos + 4, 4));
        if (size == 1 && pos + 16 <= bytes.size()) {
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | static_cast<unsigned char>(bytes[pos + i]);
        }
        if (size < 8) break;  // 0 = to the end of the file
        pos += size;
    }
    return boxes;
}

std::string stream_member(const std::string& file, const std::string& stream, const std::string& key) {
    auto out = run_capture(e2e::tools().ffprobe, {"-v", "error", "-select_streams", stream, "-show_entries",
                                                  "stream=" + key, "-of", "csv=p=0", file});
    EXPECT_TRUE(out.has_value()) << out.error();
    return std::string(trim(out.value_or("")));
}

test::MovieSpec movie_spec(const std::string& codec) {
    auto spec = e2e::small_movie(12);
    spec.video_codec = codec;
    test::SubtitleTrackSpec srt;
    srt.language = "eng";
    spec.subtitles = {srt};
    return spec;
}

TEST(PipelineMp4, HevcWithCardAndSubtitles) {
    const auto source = e2e::movie(movie_spec("hevc"));
    test::TempDir dir;
    const auto output = dir / "edited.mp4";
    auto run = test::run_cli({source, "--remove", "2-4", "--card", "6-8", "The card", "--card-seconds", "1", "--mp4",
                              "--out", path_text(output), "--quiet"});
    ASSERT_TRUE(run.has_value()) << run.error();
    ASSERT_EQ(run->exit_code, 0) << run->err;
    const auto report = nlohmann::json::parse(run->out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << run->out;
    EXPECT_EQ(report["output"], path_text(output));

    const std::string out = path_text(output);
    const auto boxes = top_level_boxes(test::slurp(output));
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    ASSERT_NE(mdat, boxes.end());
    EXPECT_LT(moov - boxes.begin(), mdat - boxes.begin());

    auto info = probe_media(e2e::tools(), out);
    ASSERT_TRUE(info.has_value()) << info.error();
    EXPECT_NE(info->container.find("mp4"), std::string::npos);
    EXPECT_EQ(info->video->codec, "hevc");
    EXPECT_EQ(stream_member(out, "v:0", "codec_tag_string"), "hvc1");
    ASSERT_EQ(info->subtitles.size(), 1u);
    EXPECT_EQ(info->subtitles[0].codec, "mov_text");
    ASSERT_EQ(info->audio.size(), 1u);

    // 300 frames, 2 s (50 frames) removed, 2 s replaced by a 25-frame card.
    EXPECT_EQ(e2e::packet_count(out), 300 - 50 - 50 + 25);
    EXPECT_EQ(e2e::decode_errors(out), "");
    EXPECT_TRUE(e2e::work_folders(dir.path()).empty());
}

TEST(PipelineMp4, OnlyMuteEditsStillBringTheSubtitles) {
    const auto source = e2e::movie(movie_spec("h264"));
    test::TempDir dir;
    const auto output = dir / "muted.mp4";
    auto run = e2e::run_edits(source, output, {e2e::edit("arg1", EditAction::Mute, 3, 5)}, "mp4");
    ASSERT_TRUE(run.report.has_value()) << run.report.error();

    std::vector<std::string> stages;
    for (const auto& e : run.events) {
        if (!e.message.empty() && (stages.empty() || stages.back() != e.stage)) stages.push_back(e.stage);
    }
    EXPECT_EQ(stages, (std::vector<std::string>{"probe", "snap", "mute", "subs", "mux", "mp4", "done"}));

    const std::string out = path_text(output);
    EXPECT_EQ(stream_member(out, "v:0", "codec_tag_string"), "avc1");
    EXPECT_EQ(stream_member(out, "s:0", "codec_name"), "mov_text");
    EXPECT_LT(e2e::max_volume(out, 0, 3.1, 4.9), -90);
    EXPECT_EQ(e2e::packet_count(out), 300);
    EXPECT_EQ(e2e::decode_errors(out), "");
}

}  // namespace
}  // namespace reel

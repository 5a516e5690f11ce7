// Cards rendered by the real ffmpeg from the argument lists of card_args, for
// sources made by the real ffmpeg and read by the real ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cards/card.h"
#include "probe/probe.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/text.h"
#include "test_pipeline_support.h"

namespace reel {
namespace {

struct StreamFacts {
    std::string type, codec, pixFmt, rate;
    std::int64_t width = 0, height = 0, channels = 0, sampleRate = 0, frames = 0;
};

std::int64_t number_member(const nlohmann::json& stream, const char* key) {
    if (!stream.contains(key)) return -1;
    const auto& value = stream[key];
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_string()) return std::stoll(value.get<std::string>());
    return -1;
}

std::string text_member(const nlohmann::json& stream, const char* key) {
    return stream.contains(key) && stream[key].is_string() ? stream[key].get<std::string>() : "";
}

// Every stream of the file with its frames counted by decoding.
std::vector<StreamFacts> stream_facts(const ToolSet& tools, const std::string& file) {
    auto out = run_capture(tools.ffprobe,
                           {"-v", "error", "-count_frames", "-show_entries",
                            "stream=codec_type,codec_name,pix_fmt,r_frame_rate,width,height,channels,sample_rate,"
                            "nb_read_frames",
                            "-of", "json", file});
    EXPECT_TRUE(out.has_value()) << out.error();
    const auto json = nlohmann::json::parse(out.value_or("{}"), nullptr, false);
    std::vector<StreamFacts> facts;
    if (json.is_discarded() || !json.contains("streams")) return facts;
    for (const auto& s : json["streams"]) {
        facts.push_back({text_member(s, "codec_type"), text_member(s, "codec_name"), text_member(s, "pix_fmt"),
                         text_member(s, "r_frame_rate"), number_member(s, "width"), number_member(s, "height"),
                         number_member(s, "channels"), number_member(s, "sample_rate"),
                         number_member(s, "nb_read_frames")});
    }
    return facts;
}

// Frame n of the card's picture as 8-bit grey values, row by row.
std::string grey_frame(const ToolSet& tools, const std::string& file, std::int64_t n) {
    auto bytes = run_capture_bytes(tools.ffmpeg, {"-v", "error", "-i", file, "-vf",
                                                  "select=eq(n\\," + std::to_string(n) + "),format=gray",
                                                  "-frames:v", "1", "-f", "rawvideo", "-"});
    EXPECT_TRUE(bytes.has_value()) << bytes.error();
    return bytes.value_or("");
}

int brightest(const std::string& frame) {
    int top = 0;
    for (unsigned char c : frame) top = std::max<int>(top, c);
    return top;
}

// Rows of the frame that hold a bright (text) pixel.
std::vector<bool> bright_rows(const std::string& frame, std::size_t width) {
    std::vector<bool> rows(frame.size() / width, false);
    for (std::size_t i = 0; i < rows.size() * width; ++i)
        if (static_cast<unsigned char>(frame[i]) >= 128) rows[i / width] = true;
    return rows;
}

test::AudioTrackSpec audio_track(const std::string& codec, int channels, const std::string& layout, int rate) {
    test::AudioTrackSpec track;
    track.codec = codec;
    track.channels = channels;
    track.layout = layout;
    track.sample_rate = rate;
    return track;
}

class CardRender : public testing::Test {
protected:
    void SetUp() override {
        auto found = test::test_tools();
        ASSERT_TRUE(found.has_value()) << found.error();
        tools = *found;
        form = detect_drawtext_form(tools.ffmpeg);
    }

    MediaInfo source(const test::MovieSpec& spec) {
        auto movie = test::test_movie(spec);
        EXPECT_TRUE(movie.has_value()) << movie.error();
        auto info = probe_media(tools, movie.value_or(""));
        EXPECT_TRUE(info.has_value()) << info.error();
        EXPECT_TRUE(info && info->video.has_value());
        return info.value_or(MediaInfo{});
    }

    // Renders the card the way the pipeline does: card_args, then run_ffmpeg
    // with the frame count as the expected total.
    void render(const CardSpec& spec) {
        auto args = card_args(spec, form);
        ASSERT_TRUE(args.has_value()) << args.error();
        RunContext ctx;
        ctx.tools = tools;
        ctx.sink.log = [&](const std::string& line) { log += line + "\n"; };
        auto run = run_ffmpeg(ctx, *args, spec.frames, [&](double fraction) { last_percent = fraction * 100.0; });
        ASSERT_TRUE(run.has_value()) << run.error() << "\n" << log;
    }

    CardSpec card_for(const MediaInfo& info, const std::filesystem::path& folder, std::string text,
                      std::int64_t frames, bool title) {
        CardSpec spec;
        spec.video = *info.video;
        if (title) spec.audio = info.audio;
        spec.text = std::move(text);
        spec.workFolder = folder;
        spec.output = folder / "card-0.mkv";
        spec.frames = frames;
        return spec;
    }

    // Frame count, size, rate and codec of the card's video, and its audio tracks.
    void expect_card_streams(const CardSpec& card, const std::string& codec) {
        const auto facts = stream_facts(tools, path_text(card.output));
        ASSERT_EQ(facts.size(), 1 + card.audio.size());
        EXPECT_EQ(facts[0].type, "video");
        EXPECT_EQ(facts[0].codec, codec);
        EXPECT_EQ(facts[0].frames, card.frames);
        EXPECT_EQ(facts[0].width, card.video.width);
        EXPECT_EQ(facts[0].height, card.video.height);
        EXPECT_EQ(facts[0].pixFmt, card.video.pixFmt.value_or("yuv420p"));
        EXPECT_EQ(facts[0].rate, std::to_string(card.video.fpsNum) + "/" + std::to_string(card.video.fpsDen));
        for (std::size_t i = 0; i < card.audio.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(facts[1 + i].type, "audio");
            EXPECT_EQ(facts[1 + i].codec, card.audio[i].codec);
            EXPECT_EQ(facts[1 + i].channels, card.audio[i].channels);
            EXPECT_EQ(facts[1 + i].sampleRate, card.audio[i].sampleRate);
        }
        // Every silent track lasts as long as the pictures, or the joined sound
        // would have a hole after the card.
        if (!card.audio.empty()) {
            const double seconds = static_cast<double>(card.frames) * card.video.fpsDen / card.video.fpsNum;
            for (std::size_t i = 0; i < card.audio.size(); ++i) {
                auto listing = run_capture(tools.ffprobe, {"-v", "error", "-select_streams", fmt::format("a:{}", i),
                                                           "-show_entries", "packet=pts_time,duration_time", "-of",
                                                           "csv=p=0", path_text(card.output)});
                ASSERT_TRUE(listing.has_value()) << listing.error();
                double end = 0;
                for (const auto& line : split(*listing, '\n')) {
                    const auto fields = split(line, ',');
                    if (fields.size() < 2) continue;
                    end = std::max(end, std::stod(fields[0]) + std::stod(fields[1]));
                }
                EXPECT_GT(end, seconds - 0.05) << "silent track " << i << " ends early";
            }
        }
    }

    // Plain background when fully faded out at the start, text in the middle.
    void expect_text_in_the_middle(const CardSpec& card) {
        const auto file = path_text(card.output);
        const std::size_t size = static_cast<std::size_t>(card.video.width * card.video.height);
        const auto first = grey_frame(tools, file, 0);
        const auto middle = grey_frame(tools, file, card.frames / 2);
        ASSERT_EQ(first.size(), size);
        ASSERT_EQ(middle.size(), size);
        EXPECT_LT(brightest(first), 40);
        EXPECT_GE(brightest(middle), 200);
    }

    ToolSet tools;
    DrawtextForm form = DrawtextForm::PerLine;
    double last_percent = -1;
    std::string log;
};

TEST_F(CardRender, TitleCardForH264WithTwoAudioTracks) {
    test::MovieSpec movie;
    movie.duration = 2;
    movie.audio = {audio_track("aac", 2, "stereo", 48000), audio_track("ac3", 6, "5.1(side)", 44100)};
    const MediaInfo info = source(movie);
    ASSERT_EQ(info.audio.size(), 2u);
    test::TempDir dir;
    const CardSpec card = card_for(info, dir.path(), "100% sure", 75, true);
    render(card);
    expect_card_streams(card, "h264");
    expect_text_in_the_middle(card);
    EXPECT_GT(last_percent, 0);

    // The card joins the source's tracks the way the pipeline joins it, as it
    // was rendered: its parameter sets travel in-band, so after the source's
    // pictures every frame of it decodes.
    auto joined = test::run_program(*tools.mkvmerge, {"-q", "-o", path_text(dir / "joined.mkv"), info.path, "+",
                                                       path_text(card.output)});
    ASSERT_TRUE(joined.has_value()) << joined.error();
    EXPECT_LE(joined->exit_code, 1) << joined->out << joined->err;
    const auto facts = stream_facts(tools, path_text(dir / "joined.mkv"));
    ASSERT_EQ(facts.size(), 3u);
    EXPECT_EQ(facts[0].frames, 50 + 75);
    EXPECT_EQ(e2e::decode_errors(path_text(dir / "joined.mkv")), "");
}

TEST_F(CardRender, TextCardForHevcAt24000Over1001InAQuotedFolder) {
    test::MovieSpec movie;
    movie.duration = 1;
    movie.fps_num = 24000;
    movie.fps_den = 1001;
    movie.video_codec = "hevc";
    movie.keyframe_interval = 24;
    const MediaInfo info = source(movie);
    test::TempDir dir;
    const auto folder = dir / "it's a:work";
    std::filesystem::create_directories(folder);
    // Three lines, the middle one empty; the text itself has an apostrophe and a colon.
    const CardSpec card = card_for(info, folder, "Don't: stop\n\nthe end", 48, false);
    render(card);
    expect_card_streams(card, "hevc");
    expect_text_in_the_middle(card);

    // The empty middle line keeps its place: text above and below the centre, none on it.
    const auto middle = grey_frame(tools, path_text(card.output), 24);
    const auto rows = bright_rows(middle, 640);
    ASSERT_EQ(rows.size(), 360u);
    const auto any = [&](std::size_t from, std::size_t to) {
        return std::any_of(rows.begin() + static_cast<std::ptrdiff_t>(from), rows.begin() + static_cast<std::ptrdiff_t>(to),
                           [](bool b) { return b; });
    };
    EXPECT_TRUE(any(130, 172));
    EXPECT_FALSE(any(172, 188));
    EXPECT_TRUE(any(188, 230));
    EXPECT_FALSE(any(0, 120));
    EXPECT_FALSE(any(240, 360));
}

TEST_F(CardRender, TitleCardForMpeg4WithMp3) {
    test::MovieSpec movie;
    movie.duration = 1;
    movie.fps_num = 30000;
    movie.fps_den = 1001;
    movie.video_codec = "mpeg4";
    movie.keyframe_interval = 30;
    movie.audio = {audio_track("mp3", 1, "mono", 44100)};
    const MediaInfo info = source(movie);
    test::TempDir dir;
    const CardSpec card = card_for(info, dir.path(), "A longer card text that has to be wrapped onto two lines", 45, true);
    render(card);
    expect_card_streams(card, "mpeg4");
    expect_text_in_the_middle(card);
}

TEST_F(CardRender, TitleCardForVp9WithOpus) {
    test::MovieSpec movie;
    movie.duration = 1;
    movie.video_codec = "vp9";
    movie.keyframe_interval = 25;
    movie.audio = {audio_track("opus", 2, "stereo", 48000)};
    const MediaInfo info = source(movie);
    test::TempDir dir;
    const CardSpec card = card_for(info, dir.path(), "%{pts} stays literal", 30, true);
    render(card);
    expect_card_streams(card, "vp9");
    expect_text_in_the_middle(card);
}

TEST_F(CardRender, EmptyTextGivesAPlainCard) {
    test::MovieSpec movie;
    movie.duration = 1;
    const MediaInfo info = source(movie);
    test::TempDir dir;
    const CardSpec card = card_for(info, dir.path(), " \n ", 10, false);
    render(card);
    expect_card_streams(card, "h264");
    EXPECT_LT(brightest(grey_frame(tools, path_text(card.output), 5)), 40);
}

}  // namespace
}  // namespace reel

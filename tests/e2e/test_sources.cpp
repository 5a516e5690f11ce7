// Every source a user brings, edited the way that used to fail: the result
// decodes, lists the source's streams with their properties (except what the
// warnings name), and keeps its sound with its picture.
#include <algorithm>
#include <functional>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "util/files.h"
#include "util/text.h"

namespace reel {
namespace {

using e2e::edit;
using nlohmann::json;

std::string tag(const json& object, const std::string& key) {
    if (!object.contains("tags")) return "";
    for (const auto& [name, value] : object["tags"].items())
        if (ascii_lower(name) == ascii_lower(key) && value.is_string()) return value.get<std::string>();
    return "";
}

// What a viewer's player shows of a stream; the formats' own names for the
// same thing are brought together (MP4 keeps track names as handler names and
// timed text as mov_text).
std::string describe(const json& stream) {
    std::string codec = stream.value("codec_name", "?");
    if (codec == "mov_text") codec = "subrip";
    std::string title = tag(stream, "title");
    const std::string handler = tag(stream, "handler_name");
    if (title.empty() && !handler.empty() && !handler.ends_with("Handler")) title = handler;
    const std::string language = tag(stream, "language");
    std::string rotation;
    for (const auto& side : stream.value("side_data_list", json::array()))
        if (side.contains("rotation")) rotation = fmt::format(" rotation={}", side["rotation"].get<double>());
    const auto flag = [&](const char* key) { return stream["disposition"].value(key, 0); };
    return fmt::format("{} {} lang={} title={} default={} forced={} cover={}{}", stream.value("codec_type", "?"), codec,
                       language.empty() ? "und" : language, title, flag("default"), flag("forced"),
                       flag("attached_pic"), rotation);
}

struct SourceCase {
    std::string name;
    test::MovieSpec spec;
    std::vector<Edit> edits;
    std::string container = "mkv";
    std::vector<std::string> warnings{};
    std::vector<int> dropped{};  // stream indexes of the source that the warnings name
    std::function<void(const json& source, const json& output)> more{};
    bool exact = false;
};

// Beeps longer than any audio frame here (FLAC's are 96 ms): a beep at a cut
// loses its first frame at most, never all of it.
test::MovieSpec flashing(test::MovieSpec spec) {
    for (int s = 0; s < spec.duration; ++s) spec.flashes.push_back(s);
    spec.beep_seconds = 0.2;
    return spec;
}

std::vector<SourceCase> source_cases() {
    auto base = flashing(e2e::small_movie(30));
    base.keyframe_interval = 25;
    base.audio = {{.language = "eng", .is_default = true}};

    auto flac = base;
    flac.audio = {{.codec = "flac", .language = "ger", .is_default = true}};
    auto cover = base;
    cover.cover_art = true;
    auto angles = base;
    angles.extra_video_tracks = 1;
    auto sound_first = base;
    sound_first.audio_first = true;
    sound_first.audio.push_back({.codec = "ac3", .channels = 6, .layout = "5.1(side)", .title = "Commentary"});
    auto avi = base;
    avi.container = "avi";
    avi.video_codec = "mpeg4";
    avi.audio = {{.codec = "mp3"}};
    auto dvd = base;
    dvd.width = 720;
    dvd.height = 480;
    dvd.fps_num = 30000;
    dvd.fps_den = 1001;
    dvd.keyframe_interval = 15;
    dvd.video_codec = "mpeg2video";
    dvd.sample_aspect = "32:27";
    dvd.audio = {{.codec = "ac3"}};
    auto phone = base;
    phone.container = "mp4";
    phone.rotation = 90;
    phone.creation_time = "2021-06-01T10:20:30Z";
    phone.tags = {{"DIRECTOR", "A. Smithee"}};
    phone.audio = {{.language = "fre", .title = "Dialogue", .is_default = true}};
    auto broadcast = base;
    broadcast.container = "ts";
    broadcast.start_offset = 1.4;
    broadcast.audio = {{.codec = "ac3", .language = "eng", .is_default = true}, {.language = "spa"}};
    // More sound tracks than are joined at once, in three codecs.
    auto languages = base;
    languages.audio = {{.language = "eng", .is_default = true}, {.codec = "ac3", .language = "ger"},
                       {.language = "fre"}, {.codec = "flac", .language = "spa"}, {.language = "ita"}};
    auto subtitled = base;
    // MP4 always enables one track of every kind: a default one keeps the
    // stream lists comparable.
    subtitled.subtitles = {{.language = "eng", .is_default = true}};
    subtitled.image_subtitles = {{.language = "ger"}};
    auto timed_text = base;
    timed_text.container = "mp4";
    timed_text.subtitles = {{.language = "eng", .cues = {{2, 3, "Before"}, {8, 9, "After"}}}};
    timed_text.chapters = {{0, "Start"}, {8, "Middle"}};

    const auto same_date_and_turn = [](const json& /*source*/, const json& output) {
        EXPECT_EQ(tag(output["format"], "DIRECTOR"), "A. Smithee");
        EXPECT_EQ(tag(output["format"], "creation_time").substr(0, 19), "2021-06-01T10:20:30");
    };
    return {
        {"TrimTheStart", base, {edit("a", EditAction::Remove, 0, 10)}},
        {"EndWithACard", base, {edit("a", EditAction::Replace, 25, 30, "The End", 3)}},
        {"Flac", flac,
         {edit("a", EditAction::Mute, 2, 3), edit("b", EditAction::Remove, 8, 12),
          edit("c", EditAction::Replace, 20, 23, "Card", 2)}},
        {"CoverArt", cover, {edit("a", EditAction::Replace, 10, 13, "Card", 2)}},
        {"TwoPictures", angles, {edit("a", EditAction::Remove, 10, 14)}, "mkv",
         {"Video track 2 was dropped because the timeline changed; only the main picture is cut."}, {1}},
        {"SoundFirst", sound_first,
         {edit("a", EditAction::Replace, 10, 13, "Card", 2), edit("b", EditAction::Remove, 20, 24)}},
        {"Avi", avi, {edit("a", EditAction::Replace, 10, 13, "Card", 2), edit("b", EditAction::TextOverVideo, 20, 23, "T")}},
        {"AnamorphicDvd", dvd, {edit("a", EditAction::Replace, 0, 4, "Opening", 3)}, "mkv", {}, {},
         [](const json&, const json& output) {
             EXPECT_EQ(output["streams"][0].value("sample_aspect_ratio", ""), "32:27");
             EXPECT_EQ(output["streams"][0].value("display_aspect_ratio", ""), "16:9");
         }},
        {"RotatedPhone", phone, {edit("a", EditAction::Remove, 10, 14)}, "mkv", {}, {}, same_date_and_turn},
        {"RotatedPhoneToMp4", phone, {edit("a", EditAction::Remove, 10, 14)}, "mp4", {}, {}, same_date_and_turn},
        {"LateTransportStream", broadcast, {edit("a", EditAction::Remove, 10, 14)}},
        {"FiveLanguages", languages,
         {edit("a", EditAction::Remove, 4, 8), edit("b", EditAction::TextOverVideo, 12, 15, "T")}},
        // The picture stays the source's, the sound is rebuilt: the subtitles still come last.
        {"MuteKeepsTheTrackOrder", subtitled, {edit("a", EditAction::Mute, 2, 3)}},
        {"PicturesCannotGoIntoMp4", subtitled, {edit("a", EditAction::Mute, 2, 3)}, "mp4",
         {"Subtitle track 2 (ger) is image based (hdmv_pgs_subtitle) and was left out because MP4 cannot hold it."},
         {3}},
        {"TimedTextAfterACopy", timed_text, {edit("a", EditAction::Remove, 4, 6)}, "mkv", {}, {},
         [](const json&, const json& output) {
             ASSERT_EQ(output["chapters"].size(), 2u);
             EXPECT_NEAR(std::stod(output["chapters"][1].value("start_time", "0")), 6, 0.002);
         }},
        // --exact, off the keyframes (each cut's kept pictures meet on the
        // picture grid, so no picture shows longer than one frame more).
        {"ExactLateTransportStream", broadcast, {edit("a", EditAction::Remove, 10.33, 14.37)}, "mkv", {}, {}, {}, true},
        {"ExactRotatedPhone", phone, {edit("a", EditAction::Remove, 10.33, 14.37)}, "mkv", {}, {}, same_date_and_turn,
         true},
        {"ExactSoundFirst", sound_first,
         {edit("a", EditAction::Replace, 10.33, 13.5, "Card", 2), edit("b", EditAction::Remove, 20.33, 24.37)}, "mkv",
         {}, {}, {}, true},
        {"ExactDvdOpening", dvd, {edit("a", EditAction::Replace, 0, 4.47, "Opening", 3)}, "mkv", {}, {}, {}, true},
    };
}

class Sources : public ::testing::TestWithParam<SourceCase> {};

TEST_P(Sources, EditWithoutLosingAnything) {
    const SourceCase& c = GetParam();
    const auto source = e2e::movie(c.spec);
    test::TempDir dir;
    const auto output = path_text(dir / ("out." + c.container));
    auto run = e2e::run_edits(source, output, c.edits, c.container, false, c.exact);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    EXPECT_EQ(run.warnings, c.warnings);
    EXPECT_EQ(e2e::decode_errors(output), "");

    const json before = test::ffprobe_report(source);
    const json after = test::ffprobe_report(output);
    std::vector<std::string> kept, written;
    for (const auto& stream : before["streams"]) {
        const int index = stream.value("index", -1);
        const bool data = stream.value("codec_type", "") == "data";  // MP4 chapters, nothing to see
        if (!data && std::find(c.dropped.begin(), c.dropped.end(), index) == c.dropped.end())
            kept.push_back(describe(stream));
    }
    for (const auto& stream : after["streams"]) written.push_back(describe(stream));
    EXPECT_EQ(written, kept);
    if (c.more) c.more(before, after);
    if (!c.spec.video_codec.empty() && c.container == "mkv") {
        std::vector<test::AudioTrackSpec> audio = c.spec.audio;
        // Mutes come first in every case: their times are the same in the output.
        std::vector<std::pair<double, double>> silent;
        for (const auto& e : c.edits)
            if (e.action == EditAction::Mute) silent.emplace_back(e.start, e.end);
        e2e::expect_sound_with_picture(output, source, audio, silent);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, Sources, ::testing::ValuesIn(source_cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace reel

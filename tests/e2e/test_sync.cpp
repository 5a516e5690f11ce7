// Sound stays with the picture: after any number of mutes every other audio
// packet keeps its time and bytes, and after cuts, title cards and text cards
// every beep still comes with its flash, whatever the movie came in.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "probe/probe.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "util/files.h"

namespace reel {
namespace {

using e2e::edit;

// A flash and a beep at every whole second; keyframes every second.
test::MovieSpec flash_movie(std::vector<test::AudioTrackSpec> audio, double duration = 60) {
    auto spec = e2e::small_movie(duration);
    spec.keyframe_interval = 25;
    spec.audio = std::move(audio);
    for (int s = 0; s < duration; ++s) spec.flashes.push_back(s);
    return spec;
}

// ---- mutes ---------------------------------------------------------------------

using CodecPair = std::pair<std::string, std::string>;

class Mutes : public ::testing::TestWithParam<CodecPair> {
protected:
    std::vector<test::AudioTrackSpec> audio() const {
        return {{.codec = GetParam().first, .is_default = true}, {.codec = GetParam().second}};
    }
};

TEST_P(Mutes, FiftyMutesLeaveEveryOtherPacketWhereAndAsItWas) {
    const auto source = e2e::movie(flash_movie(audio()));
    test::TempDir dir;
    std::vector<Edit> edits;
    std::vector<std::pair<double, double>> mutes;
    for (int k = 0; k < 50; ++k) {
        mutes.emplace_back(k + 0.3, k + 0.62);  // between the beeps
        edits.push_back(edit(fmt::format("arg{}", k + 1), EditAction::Mute, k + 0.3, k + 0.62));
    }
    const auto output = path_text(dir / "out.mkv");
    auto run = e2e::run_edits(source, output, edits);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();

    for (int k = 0; k < 2; ++k) {
        const double frame = e2e::frame_seconds(audio()[static_cast<std::size_t>(k)].codec);
        SCOPED_TRACE(audio()[static_cast<std::size_t>(k)].codec);
        const auto before = e2e::frame_hashes(source, fmt::format("0:a:{}", k), true);
        const auto after = e2e::frame_hashes(output, fmt::format("0:a:{}", k), true);
        std::size_t kept = 0;
        for (const auto& packet : before) {
            // Muted: from the packet that holds a mute's start to the last that
            // lies mostly before its end.
            const bool muted = std::any_of(mutes.begin(), mutes.end(), [&](const auto& m) {
                return packet.time + frame > m.first + 0.001 && packet.time < m.second - frame / 2;
            });
            if (muted) continue;
            ++kept;
            const auto same = std::find_if(after.begin(), after.end(), [&](const e2e::FrameHash& f) {
                // Both are whole milliseconds of the same instant.
                return f.md5 == packet.md5 && std::abs(f.time - packet.time) <= 0.001 + 1e-9;
            });
            EXPECT_NE(same, after.end()) << "the packet at " << packet.time << " moved or changed";
        }
        EXPECT_GT(kept, before.size() / 2);
    }
    e2e::expect_sound_with_picture(output, source, audio());
    EXPECT_NEAR(run.report->duration, run.report->originalDuration, e2e::longest_frame(audio()));
}

TEST_P(Mutes, SilenceStartsAndEndsWithinAnAudioFrameOfTheRange) {
    auto spec = e2e::small_movie(20);
    spec.audio = audio();
    const auto source = e2e::movie(spec);
    test::TempDir dir;
    // Alone, and with a remove between them: the cut and the mutes are then
    // one reassembly of the sound, and the second mute moves with the cut.
    for (const bool cut : {false, true}) {
        const auto output = path_text(dir / (cut ? "cut.mkv" : "out.mkv"));
        std::vector<Edit> edits{edit("arg1", EditAction::Mute, 6.3, 6.8), edit("arg2", EditAction::Mute, 12, 12.5)};
        if (cut) edits.push_back(edit("arg3", EditAction::Remove, 8, 10));
        auto run = e2e::run_edits(source, output, edits);
        ASSERT_TRUE(run.report.has_value()) << run.report.error();
        const double shift = cut ? run.report->applied.back().actualEnd - run.report->applied.back().actualStart : 0;
        for (int k = 0; k < 2; ++k) {
            const double frame = e2e::frame_seconds(audio()[static_cast<std::size_t>(k)].codec);
            const auto found = e2e::silences(output, k);
            ASSERT_EQ(found.size(), 2u) << audio()[static_cast<std::size_t>(k)].codec << " cut " << cut;
            // A few milliseconds more for silencedetect's threshold on the
            // decoder's fade between neighbouring packets.
            const double delay = e2e::decoder_delay(audio()[static_cast<std::size_t>(k)].codec);
            for (const auto& [range, silence] :
                 {std::pair{std::pair{6.3, 6.8}, found[0]}, {{12.0 - shift, 12.5 - shift}, found[1]}}) {
                EXPECT_NEAR(silence.first - delay, range.first, frame + 0.005) << "cut " << cut;
                EXPECT_NEAR(silence.second - delay, range.second, frame + 0.005) << "cut " << cut;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, Mutes,
                         // The run copies AAC, AC-3, E-AC-3 and MP3 itself, with its
                         // own silence; with Opus or FLAC beside them ffmpeg cuts.
                         ::testing::Values(CodecPair{"aac", "ac3"}, CodecPair{"eac3", "mp3"},
                                           CodecPair{"eac3", "opus"}, CodecPair{"flac", "mp3"}),
                         [](const auto& info) { return info.param.first + "_" + info.param.second; });

// ---- cuts, cards and text cards, from every kind of source ---------------------

struct CutCase {
    std::string name;
    test::MovieSpec spec;
    std::vector<Edit> edits;
    std::vector<std::pair<double, double>> silent{};  // output times without beeps (mutes)
};

std::vector<Edit> many_removes() {
    std::vector<Edit> edits;
    for (int k = 0; k < 20; ++k)
        edits.push_back(edit(fmt::format("arg{}", k + 1), EditAction::Remove, 3 * k + 1, 3 * k + 2));
    return edits;
}

test::MovieSpec shaped(std::string container, std::vector<test::AudioTrackSpec> audio) {
    auto spec = flash_movie(std::move(audio), 40);
    spec.container = std::move(container);
    return spec;
}

std::vector<CutCase> cut_cases() {
    const std::vector<test::AudioTrackSpec> two{{.codec = "aac", .is_default = true}, {.codec = "ac3"}};
    auto ts = shaped("ts", {{.codec = "ac3"}});
    ts.start_offset = 1.4;
    // A rip whose writer the run does not trust to cue every keyframe: the
    // keyframes are listed and mkvmerge splits the picture.
    // A Matroska picture that starts late: a cut from its first keyframe
    // leaves nothing of the picture before it.
    auto late = flash_movie(two, 40);
    late.start_offset = 0.5;
    auto rip = flash_movie(two, 40);
    rip.writing_app = "Ripper v1.0";
    auto phone = shaped("mp4", {{.codec = "aac"}});
    phone.frame_select = "lt(mod(n,25),12)";  // twelve pictures, then a pause, every second
    return {
        {"TextAndCardWithoutMute", flash_movie(two),
         {edit("a", EditAction::TextOverVideo, 10, 15, "Text"), edit("b", EditAction::Replace, 30, 34, "Card", 3)}},
        {"RemoveAndText", flash_movie(two),
         {edit("a", EditAction::Remove, 5, 9), edit("b", EditAction::TextOverVideo, 20, 24, "Text")}},
        {"TwentyRemoves", flash_movie(two), many_removes()},
        {"EveryKind", flash_movie(two),
         {edit("a", EditAction::Mute, 3, 4), edit("b", EditAction::TextOverVideo, 10, 14, "Text"),
          edit("c", EditAction::Replace, 20, 23, "Card", 2), edit("d", EditAction::Remove, 30, 35)},
         {{3, 4}}},
        {"Mp4MuteAndText", shaped("mp4", {{.codec = "aac"}}),
         {edit("a", EditAction::Mute, 10, 11), edit("b", EditAction::TextOverVideo, 20, 24, "Text")},
         {{10, 11}}},
        {"TransportStreamStartingLate", ts, {edit("a", EditAction::Remove, 10, 14)}},
        {"MatroskaStartingLate", late,
         {edit("a", EditAction::Remove, 0.3, 2.5), edit("b", EditAction::Replace, 10, 12, "Card", 2)}},
        {"RipFromAnotherWriter", rip,
         {edit("a", EditAction::TextOverVideo, 10, 14, "Text"), edit("b", EditAction::Replace, 20, 23, "Card", 2),
          edit("c", EditAction::Remove, 30, 35)}},
        {"VariableFrameRatePhone", phone, {edit("a", EditAction::TextOverVideo, 20, 22, "Text")}},
    };
}

class Cuts : public ::testing::TestWithParam<CutCase> {};

TEST_P(Cuts, EveryBeepStaysWithItsFlashAndNoPictureIsMissing) {
    const CutCase& c = GetParam();
    const auto source = e2e::movie(c.spec);
    test::TempDir dir;
    const auto output = path_text(dir / "out.mkv");
    auto run = e2e::run_edits(source, output, c.edits);
    ASSERT_TRUE(run.report.has_value()) << run.report.error();
    e2e::expect_sound_with_picture(output, source, c.spec.audio, c.silent);

    // The file is as long as the kept material: what removals took away is
    // gone, every card lasts its own length.
    double expected = run.report->originalDuration;
    for (const auto& applied : run.report->applied) {
        if (applied.action == EditAction::Remove) expected -= applied.actualEnd - applied.actualStart;
        if (applied.action == EditAction::Replace)
            expected += *applied.cardSeconds - (applied.actualEnd - applied.actualStart);
    }
    EXPECT_NEAR(run.report->duration, expected, e2e::longest_frame(c.spec.audio) + 1.0 / 25);
    EXPECT_EQ(e2e::decode_errors(output), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, Cuts, ::testing::ValuesIn(cut_cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace reel

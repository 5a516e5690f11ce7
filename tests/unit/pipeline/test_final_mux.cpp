// What the run's own writer of the edited movie takes on, and what it leaves
// to mkvmerge.
#include <gtest/gtest.h>

#include "pipeline/final_mux.h"

namespace reel {
namespace {

TEST(FinalMux, SubripTracksReadBackFromTheirArguments) {
    const auto tracks = subrip_tracks({"--language", "0:fre", "--track-name", "0:Words: 2", "--default-track-flag",
                                       "0:yes", "--forced-display-flag", "0:no", "/w/sub-00.srt", "--language", "0:eng",
                                       "--default-track-flag", "0:no", "--forced-display-flag", "0:yes", "/w/sub-01.srt"});
    ASSERT_TRUE(tracks);
    ASSERT_EQ(tracks->size(), 2u);
    EXPECT_EQ((*tracks)[0].file, "/w/sub-00.srt");
    EXPECT_EQ((*tracks)[0].language, "fre");
    EXPECT_EQ((*tracks)[0].title, "Words: 2");
    EXPECT_TRUE((*tracks)[0].isDefault);
    EXPECT_FALSE((*tracks)[0].forced);
    EXPECT_EQ((*tracks)[1].language, "eng");
    EXPECT_FALSE((*tracks)[1].title);
    EXPECT_TRUE((*tracks)[1].forced);
    // ASS and picture subtitles are mkvmerge's to write.
    EXPECT_FALSE(subrip_tracks({"--language", "0:eng", "/w/sub-00.srt", "/w/sub-01.ass"}));
    EXPECT_FALSE(subrip_tracks({"/w/sub-02.sup"}));
}

TEST(FinalMux, WhatIsLeftToMkvmerge) {
    MuxInputs plain;
    MuxTrack video{{"/w/v.mkv", 0}, true, 0, "eng", std::nullopt, true, false, std::nullopt};
    MuxTrack sound{{"/w/a.mka", 0, -1000}, false, 1, std::nullopt, std::nullopt, true, false, std::nullopt};
    plain.tracks = {video, sound};
    const auto text = [](const char* language) {
        TextTrack track;
        track.file = "/w/sub-00.srt";
        track.language = language;
        return std::vector<TextTrack>{track};
    };
    const auto english = text("eng");
    EXPECT_TRUE(own_mux_fits(plain, english, false));
    EXPECT_FALSE(own_mux_fits(plain, english, true));  // the source's subtitles
    EXPECT_FALSE(own_mux_fits(plain, text("pt-BR"), false));
    auto cut = plain;
    cut.splitParts = "parts:0s-4s";
    auto timed = plain;
    timed.tracks[1].source.timestamps = "/w/t.txt";
    auto own = plain;
    own.tracks[0].ownProperties = true;
    auto tagged = plain;
    tagged.tracks[0].language = "en-US";
    auto shifted = plain;
    shifted.videoPieces = {{"/w/v.mkv", 0, 0, 4}};
    shifted.tracks[0].source.syncMs = 20;
    auto shared = plain;  // both from the movie: mkvmerge reads it once
    shared.tracks[0].source.file = shared.tracks[1].source.file = "/m/movie.mkv";
    for (const auto* in : {&cut, &timed, &own, &tagged, &shifted, &shared}) EXPECT_FALSE(own_mux_fits(*in, {}, false));
}

}  // namespace
}  // namespace reel

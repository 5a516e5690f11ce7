// The argument lists of the frame grab and the proxy clip.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "preview/preview.h"

namespace reel {
namespace {

using Args = std::vector<std::string>;

TEST(FrameGrabArguments, ExactSeekAtFullWidth) {
    EXPECT_EQ(frame_grab_arguments("/m/a b.mkv", 5, 1280, true),
              (Args{"-hide_banner", "-loglevel", "error", "-threads", "8", "-ss", "5.000", "-i", "/m/a b.mkv", "-map",
                    "0:v:0", "-frames:v", "1", "-vf", "scale=1280:round(1280*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p", "-f",
                    "image2pipe", "-c:v", "mjpeg", "-q:v", "4", "-strict", "unofficial", "-"}));
}

TEST(FrameGrabArguments, FastSeekDecodesKeyframesOnly) {
    const Args args = frame_grab_arguments("m.mkv", 1.5, 320, false);
    const Args head(args.begin(), args.begin() + 10);
    EXPECT_EQ(head, (Args{"-hide_banner", "-loglevel", "error", "-threads", "8", "-noaccurate_seek", "-skip_frame",
                          "nokey", "-ss", "1.500"}));
    EXPECT_EQ(args.size(), frame_grab_arguments("m.mkv", 1.5, 320, true).size() + 3);
}

TEST(FrameGrabArguments, TimeAndWidthAreClamped) {
    struct Case {
        double time;
        unsigned width;
        const char* ss;
        const char* vf;
    };
    for (const Case& c : {Case{-3, 10, "0.000", "scale=64:round(64*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p"},
                          Case{-0.0, 64, "0.000", "scale=64:round(64*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p"},
                          Case{std::nan(""), 65, "0.000", "scale=65:round(65*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p"},
                          Case{3725.5, 1920, "3725.500", "scale=1920:round(1920*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p"},
                          Case{0.0004, 0, "0.000", "scale=64:round(64*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p"},
                          Case{1.0005, 1280, "1.000", "scale=1280:round(1280*ih/(iw*sar)/2)*2:flags=fast_bilinear,setsar=1,format=yuv420p"}}) {
        const Args args = frame_grab_arguments("m", c.time, c.width, true);
        EXPECT_EQ(args[6], c.ss) << c.time;
        EXPECT_EQ(args[14], c.vf) << c.width;
    }
}

MediaInfo with_audio(std::vector<std::pair<std::uint64_t, bool>> tracks) {
    MediaInfo info;
    info.duration = 100;
    info.video = VideoStreamInfo{};
    for (auto [index, is_default] : tracks) {
        AudioStreamInfo audio;
        audio.index = index;
        audio.isDefault = is_default;
        info.audio.push_back(audio);
    }
    return info;
}

TEST(ProxyClipArguments, FullListWithDefaultAudio) {
    EXPECT_EQ(proxy_clip_arguments(with_audio({{1, false}, {2, true}}), "/m/a.mkv", 60, 10, 360),
              (Args{"-hide_banner", "-loglevel", "error", "-ss", "60.000", "-i", "/m/a.mkv", "-t", "10.000",
                    "-map", "0:v:0", "-map", "0:2", "-sn", "-dn", "-vf",
                    "scale=round(360*iw*sar/ih/2)*2:360:flags=fast_bilinear,setsar=1,format=yuv420p", "-c:v", "libx264", "-preset", "ultrafast",
                    "-tune", "zerolatency", "-crf", "27", "-g", "48", "-c:a", "aac", "-b:a", "128k", "-ac", "2",
                    "-movflags", "frag_keyframe+empty_moov+default_base_moof", "-f", "mp4", "-"}));
}

TEST(ProxyClipArguments, AudioChoice) {
    struct Case {
        std::vector<std::pair<std::uint64_t, bool>> tracks;
        std::optional<std::string> map;
    };
    for (const Case& c : {Case{{{1, false}, {2, true}}, "0:2"}, Case{{{1, false}, {2, false}}, "0:1"},
                          Case{{{3, true}, {4, true}}, "0:3"}, Case{{{12, false}}, "0:12"}, Case{{}, std::nullopt}}) {
        const Args args = proxy_clip_arguments(with_audio(c.tracks), "m", 0, 5, 360);
        std::vector<std::string> maps;
        for (std::size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == "-map") maps.push_back(args[i + 1]);
        ASSERT_FALSE(maps.empty());
        EXPECT_EQ(maps.front(), "0:v:0");
        if (c.map) {
            EXPECT_EQ(maps, (Args{"0:v:0", *c.map}));
        } else {
            EXPECT_EQ(maps, (Args{"0:v:0"}));
        }
    }
}

TEST(ProxyClipArguments, StartLengthAndHeightAreClamped) {
    struct Case {
        double start, length;
        unsigned height;
        const char *ss, *t, *vf;
    };
    for (const Case& c :
         {Case{1, 0.2, 100, "1.000", "0.500", "scale=round(144*iw*sar/ih/2)*2:144:flags=fast_bilinear,setsar=1,format=yuv420p"},
          Case{-5, 0.5, 144, "0.000", "0.500", "scale=round(144*iw*sar/ih/2)*2:144:flags=fast_bilinear,setsar=1,format=yuv420p"},
          Case{2.25, 0.5001, 720, "2.250", "0.500", "scale=round(720*iw*sar/ih/2)*2:720:flags=fast_bilinear,setsar=1,format=yuv420p"},
          Case{std::nan(""), std::nan(""), 145, "0.000", "0.500", "scale=round(145*iw*sar/ih/2)*2:145:flags=fast_bilinear,setsar=1,format=yuv420p"}}) {
        const Args args = proxy_clip_arguments(with_audio({}), "m", c.start, c.length, c.height);
        EXPECT_EQ(args[4], c.ss);
        EXPECT_EQ(args[8], c.t);
        EXPECT_EQ(args[14], c.vf);
    }
}

}  // namespace
}  // namespace reel

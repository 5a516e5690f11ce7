#pragma once
// Encoder settings matched to the source, so that a card can sit in the same
// video track as stream-copied pieces.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

// Complete ffmpeg output options for the card's video (no input, filter, map or output).
using EncoderSettings = std::vector<std::string>;

// What the encoder is given. A card's pictures stand still or fade: they gain
// nothing from the encoder looking ahead or holding a picture per thread, and
// both cost memory by the picture size (ffmpeg with x264 on a 1080p card:
// about 365 MB with them, 130 MB without; with x265 on a 720p card, 200 MB
// and 130 MB). Source pictures encoded again keep a look-ahead of one picture,
// which keeps them a quarter smaller at the same quality than none, on one
// thread, so that no thread holds pictures of its own (x264 at 720p: 97 MiB
// instead of 155; x265: 136 MiB instead of 188): the caller runs two at once.
// Moving pictures get the encoder's own look-ahead and threads.
enum class Pictures { Moving, Still, Source };

Result<EncoderSettings> match_encoder(const VideoStreamInfo& video, const std::string& preset,
                                      Pictures pictures = Pictures::Moving);

// The encoder's keyframe interval for `video`: about two seconds of frames, at
// least one (double math and a clamped conversion keep absurd frame rates
// from overflowing).
std::int64_t keyframe_interval(const VideoStreamInfo& video);

// Output options that make the encoder of `codec` start a picture depending on
// nothing before it at each of `frames` (frame numbers of its output), so that
// one encoded stream can be split there into files that play on their own.
// Absent where the encoder is not known to honour a forced keyframe.
std::optional<std::vector<std::string>> forced_keyframe_options(const std::string& codec,
                                                                const std::vector<std::int64_t>& frames);

}  // namespace reel

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

Result<EncoderSettings> match_encoder(const VideoStreamInfo& video, const std::string& preset);

// Output options that make the encoder of `codec` start a picture depending on
// nothing before it at each of `frames` (frame numbers of its output), so that
// one encoded stream can be split there into files that play on their own.
// Absent where the encoder is not known to honour a forced keyframe.
std::optional<std::vector<std::string>> forced_keyframe_options(const std::string& codec,
                                                                const std::vector<std::int64_t>& frames);

}  // namespace reel

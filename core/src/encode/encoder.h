#pragma once
// Encoder settings matched to the source, so that a card can sit in the same
// video track as stream-copied pieces.
#include <string>
#include <vector>

#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

// Complete ffmpeg output options for the card's video (no input, filter, map or output).
using EncoderSettings = std::vector<std::string>;

Result<EncoderSettings> match_encoder(const VideoStreamInfo& video, const std::string& preset);

}  // namespace reel

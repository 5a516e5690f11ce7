#pragma once
// Silent audio matched to a source track, for title cards and muted stretches.
#include <cstddef>
#include <string>
#include <vector>

#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

std::string silence_layout(const AudioStreamInfo& track);
// "anullsrc=r={rate}:cl={layout}"
std::string silence_source(const AudioStreamInfo& track);
// Output options that encode audio output `index` like `track`.
Result<std::vector<std::string>> silent_audio_args(const AudioStreamInfo& track, std::size_t index);

}  // namespace reel

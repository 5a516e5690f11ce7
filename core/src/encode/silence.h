#pragma once
// Silent audio matched to a source track, for title cards and muted stretches.
#include <cstddef>
#include <cstdint>
#include <optional>
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

// The encoder's samples per packet for silence matching `track`, whose own
// packets hold `source_samples` samples (when known): the source's packet size
// wherever the encoder can be told one, its fixed size otherwise.
std::int64_t silence_frame_samples(const AudioStreamInfo& track, std::optional<std::int64_t> source_samples);

// Silence for every track of `tracks`, as the three parts of an ffmpeg
// argument list: one generated input per track, the maps that make them
// outputs (counting inputs from `first_input`), and each output's encoder
// options. With `frame_samples`, the silence comes in packets of that many
// samples.
struct SilentTracks {
    std::vector<std::string> inputs;
    std::vector<std::string> maps;
    std::vector<std::string> encoders;
};
Result<SilentTracks> silent_tracks(const std::vector<AudioStreamInfo>& tracks, std::size_t first_input,
                                   std::optional<std::int64_t> frame_samples = std::nullopt);

}  // namespace reel

#pragma once
// Command-line building blocks shared by the pipeline's stages.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cards/card.h"
#include "pipeline/plan.h"
#include "probe/media_info.h"
#include "tools/run.h"
#include "util/result.h"

namespace reel {

// "parts:0.0000s-9.9995s,24.9995s-"
// `linked`: the parts follow one another in one file ("+") instead of a file each.
std::string format_split_parts(const std::vector<PieceRange>& ranges, bool linked = false);
// seg.mkv, 3 -> seg-001.mkv, seg-002.mkv, seg-003.mkv (in the same folder);
// seg.mkv, 1 -> seg.mkv, as mkvmerge names a split that keeps one range.
std::vector<std::filesystem::path> split_part_paths(const std::filesystem::path& output, std::size_t count);

// The Annex B bitstream filter for a codec that needs one ("h264", "hevc").
std::optional<std::string> annexb_filter(const std::string& codec);
// "{stem}-ib.mkv" beside `piece`.
std::filesystem::path bitstream_pass_path(const std::filesystem::path& piece);

// The "-bsf:v" chain of a copied piece: `drop_leading` drops the pictures
// shown before its first keyframe (an open GOP's leading pictures, whose
// references were cut away), `annexb` adds the Annex B filter where the codec
// has one. Absent when nothing needs to run.
std::optional<std::string> piece_filters(const std::string& codec, bool annexb, bool drop_leading);
// One file of a batch: where it comes from and where it goes.
struct FileJob {
    std::filesystem::path input;
    std::filesystem::path output;
    std::string filters;  // the "-bsf:v" chain
};
// One ffmpeg run that copies every job's file through its filters: each tool
// start costs more than copying a short piece.
std::vector<std::string> piece_pass_arguments(const std::vector<FileJob>& jobs);

// One encoded stretch of a batch.
struct StretchJob {
    EncodedStretch stretch;
    std::filesystem::path output;
};
// Encodes the pictures of every job's stretch from track `track` of `source`
// again with `settings` (the card encoder's, so that the stretches join the
// copied pieces) in one ffmpeg run with one encoder for `codec`: the stretches
// follow each other, a forced keyframe (forced_keyframe_options) starts each
// anew, and the segment muxer writes job i to stretch_segment(stem, i).
// ffmpeg decodes from the keyframe before each stretch only (stretch_seek),
// and keeps the pictures from the stretch's first one by their listed times.
std::vector<std::string> stretch_arguments(const std::string& source, std::uint64_t track,
                                           const std::vector<StretchJob>& jobs,
                                           const std::vector<std::string>& settings, const std::string& codec,
                                           const std::filesystem::path& stem);
std::filesystem::path stretch_segment(const std::filesystem::path& stem, std::size_t index);
// The time ffmpeg is told to seek to for `stretch`: one that lands on the
// keyframe its decoding starts from.
double stretch_seek(const EncodedStretch& stretch);

// The concat script that plays a card encoded in its three parts
// (card_parts_arguments: head, group, tail) as the whole card, at `fps`
// pictures a second.
std::string card_parts_script(const std::vector<std::filesystem::path>& parts, const CardRepeat& repeat, double fps);

}  // namespace reel

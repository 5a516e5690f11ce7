#pragma once
// Command-line building blocks shared by the pipeline's stages.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/plan.h"

namespace reel {

// "-hide_banner" "-loglevel" "error" "-y" "-progress" "pipe:1" "-nostats" "-i"
std::vector<std::string> std_ffmpeg_prefix();
// "parts:0.0000s-9.9995s,24.9995s-"
std::string format_split_parts(const std::vector<PieceRange>& ranges);
// seg.mkv, 3 -> seg-001.mkv, seg-002.mkv, seg-003.mkv (in the same folder)
std::vector<std::filesystem::path> split_part_paths(const std::filesystem::path& output, std::size_t count);
// "-o" out f1 "+" f2 "+" f3
std::vector<std::string> join_arguments(const std::filesystem::path& output,
                                        const std::vector<std::filesystem::path>& files);

}  // namespace reel

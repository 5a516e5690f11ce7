#include "pipeline/container.h"

#include "pipeline/run_state.h"

namespace reel {

namespace {

const OutputContainer kContainers[] = {
    {"mkv", "Matroska", "", "", ".mkv", "final.mkv", true, nullptr},
    // MP4 holds text subtitles only; ffmpeg copies the finished Matroska file.
    {"mp4", "MP4", "--mp4", "write MP4 instead of MKV", ".mp4", "final.mp4", false, run_mp4_stage},
};

}  // namespace

const OutputContainer& matroska_container() { return kContainers[0]; }
const OutputContainer& mp4_container() { return kContainers[1]; }

std::span<const OutputContainer> output_containers() { return kContainers; }

std::optional<OutputContainer> container_named(std::string_view name) {
    for (const auto& container : kContainers)
        if (container.name == name) return container;
    return std::nullopt;
}

}  // namespace reel

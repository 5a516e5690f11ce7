#pragma once
// The kinds of file a run can write, as data. mkvmerge always writes the
// edited movie as Matroska; a container it cannot write gets that file
// repackaged by a stage of its own. A new container is one entry in
// container.cpp, its stage, and its switch in the front ends.
#include <optional>
#include <span>
#include <string_view>

#include "util/result.h"

namespace reel {

struct StageRun;
using StageRunner = Result<void> (*)(StageRun&);

struct OutputContainer {
    std::string_view name;          // "mkv", "mp4": what the front ends and reports call it
    std::string_view label;         // "MP4": in messages
    std::string_view option;        // the command-line switch that asks for it; empty for the default
    std::string_view help;          // that switch's line in the usage text
    std::string_view extension;     // ".mkv": of default output names
    std::string_view finishedFile;  // the file the last stage leaves in the work folder
    bool holdsPictureSubtitles = true;
    // Writes `finishedFile` from "final.mkv"; none when mkvmerge writes the
    // container itself.
    StageRunner repackage = nullptr;

    bool operator==(const OutputContainer& other) const { return name == other.name; }
};

// Matroska, what mkvmerge writes: the default.
const OutputContainer& matroska_container();
const OutputContainer& mp4_container();

// Every container, the default first.
std::span<const OutputContainer> output_containers();
// The container a front end names ("mkv", "mp4"); absent for any other name.
std::optional<OutputContainer> container_named(std::string_view name);

}  // namespace reel

#pragma once
// Finding ffmpeg, ffprobe and mkvmerge. Discovery starts no process: it reads
// environment variables and file metadata only.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "util/result.h"

namespace reel {

struct ToolLocations {
    std::optional<std::string> ffmpeg;
    std::optional<std::string> ffprobe;
    std::optional<std::string> mkvmerge;
};

struct ToolSet {
    std::string ffmpeg;
    std::string ffprobe;
    std::optional<std::string> mkvmerge;
    // Ships with mkvmerge; sets properties of a finished file in place. Runs
    // do without it (the file then carries the date it was written).
    std::optional<std::string> mkvpropedit;
    // Ships with mkvmerge too; takes DVD subtitle pictures out of Matroska.
    std::optional<std::string> mkvextract;
};

// The platform's search rules, as data, so both rule sets can be tested anywhere.
struct PlatformRules {
    char pathListSeparator = ':';      // ';' on Windows
    bool pathListQuotes = false;       // Windows: '"' toggles a quoted region
    std::string executableSuffix;       // ".exe" on Windows
    char folderSeparator = '/';         // '\\' on Windows
    // Environment variables whose folders follow PATH (Windows: ProgramFiles, ...).
    std::vector<std::string> installRootVariables;
    // Sub-folders tried under every install root, in order.
    std::vector<std::vector<std::string>> installSubfolders;
    // Fixed folders tried last.
    std::vector<std::string> fixedFolders;
};

PlatformRules windows_rules();
PlatformRules posix_rules();
PlatformRules host_rules();

using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;
// True when the path names a file that may be run (regular after following
// links; on POSIX also executable by the user).
using FileProbe = std::function<bool(const std::string&)>;

// Splits a PATH value by the rules; an empty entry stays as an empty folder.
std::vector<std::string> split_path_list(const std::string& value, const PlatformRules& rules);
// Joins folder and name with the rules' separator; an empty folder gives the name.
std::string join_folder(const std::string& folder, const std::string& name, const PlatformRules& rules);
// The candidate folders in search order.
std::vector<std::string> candidate_folders(const PlatformRules& rules, const EnvLookup& env);

std::optional<std::string> find_tool(const std::string& name, const std::optional<std::string>& configured,
                                     const PlatformRules& rules, const EnvLookup& env,
                                     const FileProbe& is_runnable);
// The host's file probe: regular after following links, and (POSIX) executable
// by this user.
bool runnable_file(const std::string& path);
// The same with the host's rules, environment and file metadata.
std::optional<std::string> find_tool(const std::string& name, const std::optional<std::string>& configured);

Result<ToolSet> locate_tools(const ToolLocations& locations);
// The same over any finder with `find_tool`'s shape (name, configured location).
using ToolFinder = std::function<std::optional<std::string>(const std::string&, const std::optional<std::string>&)>;
Result<ToolSet> locate_tools(const ToolLocations& locations, const ToolFinder& find);
Result<std::string> require_mkvmerge(const ToolSet& tools);

}  // namespace reel

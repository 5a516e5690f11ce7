// Tool discovery: pure search rules over an environment lookup and a file probe,
// plus the host-bound wrappers used by the front ends.
#include "tools/toolset.h"

#include "util/files.h"

#include "tools/process.h"
#include "util/text.h"

namespace reel {

PlatformRules windows_rules() {
    PlatformRules rules;
    rules.pathListSeparator = ';';
    rules.pathListQuotes = true;
    rules.executableSuffix = ".exe";
    rules.folderSeparator = '\\';
    rules.installRootVariables = {"ProgramFiles", "ProgramFiles(x86)", "LOCALAPPDATA"};
    // WinGet puts its command links into Microsoft\WinGet\Links.
    rules.installSubfolders = {{"MKVToolNix"}, {"ffmpeg", "bin"}, {"Microsoft", "WinGet", "Links"}};
    rules.fixedFolders = {"C:\\ffmpeg\\bin", "C:\\Program Files\\MKVToolNix"};
    return rules;
}

PlatformRules posix_rules() {
    PlatformRules rules;
    rules.pathListSeparator = ':';
    rules.pathListQuotes = false;
    rules.folderSeparator = '/';
    // The usual package-manager prefixes (Homebrew and MacPorts included), in
    // case PATH was trimmed by whatever started us.
    rules.fixedFolders = {"/usr/local/bin", "/usr/bin", "/opt/homebrew/bin", "/opt/local/bin", "/snap/bin"};
    return rules;
}

std::vector<std::string> split_path_list(const std::string& value, const PlatformRules& rules) {
    std::vector<std::string> entries;
    std::string entry;
    bool quoted = false;
    for (const char c : value) {
        if (rules.pathListQuotes && c == '"') {
            quoted = !quoted;
        } else if (c == rules.pathListSeparator && !quoted) {
            entries.push_back(std::move(entry));
            entry.clear();
        } else {
            entry += c;
        }
    }
    entries.push_back(std::move(entry));
    return entries;
}

std::string join_folder(const std::string& folder, const std::string& name, const PlatformRules& rules) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == rules.folderSeparator || last == '/') return folder + name;
    return folder + rules.folderSeparator + name;
}

std::vector<std::string> candidate_folders(const PlatformRules& rules, const EnvLookup& env) {
    std::vector<std::string> folders;
    if (const auto path = env("PATH")) folders = split_path_list(*path, rules);
    for (const auto& variable : rules.installRootVariables) {
        const auto root = env(variable);
        // An empty value names no folder; joining it would search relative paths.
        if (!root || root->empty()) continue;
        for (const auto& parts : rules.installSubfolders) {
            std::string folder = *root;
            for (const auto& part : parts) folder = join_folder(folder, part, rules);
            folders.push_back(std::move(folder));
        }
    }
    folders.insert(folders.end(), rules.fixedFolders.begin(), rules.fixedFolders.end());
    return folders;
}

std::optional<std::string> find_tool(const std::string& name, const std::optional<std::string>& configured,
                                     const PlatformRules& rules, const EnvLookup& env,
                                     const FileProbe& is_runnable) {
    const std::string file_name = name + rules.executableSuffix;
    if (configured) {
        const std::string location(trim(*configured));
        if (!location.empty()) {
            // The executable itself, whatever it is called, or the folder holding it.
            if (is_runnable(location)) return location;
            std::string inside = join_folder(location, file_name, rules);
            if (is_runnable(inside)) return inside;
        }
    }
    for (const auto& folder : candidate_folders(rules, env)) {
        std::string candidate = join_folder(folder, file_name, rules);
        if (is_runnable(candidate)) return candidate;
    }
    return std::nullopt;
}

bool runnable_file(const std::string& path) {
    const auto info = file_info(path);
    return info && info->isRegular && info->executable;
}

std::optional<std::string> find_tool(const std::string& name, const std::optional<std::string>& configured) {
    return find_tool(name, configured, host_rules(), get_env, runnable_file);
}

Result<ToolSet> locate_tools(const ToolLocations& locations) {
    return locate_tools(locations, [](const std::string& name, const std::optional<std::string>& configured) {
        return find_tool(name, configured);
    });
}

Result<ToolSet> locate_tools(const ToolLocations& locations, const ToolFinder& find) {
    ToolSet tools;
    auto ffmpeg = find("ffmpeg", locations.ffmpeg);
    if (!ffmpeg) return fail("ffmpeg was not found. Install it or set its location in Settings.");
    tools.ffmpeg = std::move(*ffmpeg);
    auto ffprobe = find("ffprobe", locations.ffprobe);
    if (!ffprobe) return fail("ffprobe was not found. It ships with ffmpeg; set its location in Settings.");
    tools.ffprobe = std::move(*ffprobe);
    tools.mkvmerge = find("mkvmerge", locations.mkvmerge);
    // Looked for beside mkvmerge first: the two come as one package.
    std::optional<std::string> beside;
    if (tools.mkvmerge) beside = path_text(path_from_text(*tools.mkvmerge).parent_path());
    tools.mkvpropedit = find("mkvpropedit", beside);
    tools.mkvextract = find("mkvextract", beside);
    return tools;
}

Result<std::string> require_mkvmerge(const ToolSet& tools) {
    if (tools.mkvmerge) return *tools.mkvmerge;
    return fail("mkvmerge (part of MKVToolNix) was not found. Install MKVToolNix or set its location in Settings.");
}

}  // namespace reel

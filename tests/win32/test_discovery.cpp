// Tool discovery on the Windows host: the host's rules, its environment and
// real files in temporary folders.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "tools/process.h"
#include "tools/toolset.h"
#include "win32_support.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

TEST(Win32Discovery, HostRulesAreTheWindowsRules) {
    const auto host = host_rules();
    const auto windows = windows_rules();
    EXPECT_EQ(host.pathListSeparator, ';');
    EXPECT_TRUE(host.pathListQuotes);
    EXPECT_EQ(host.executableSuffix, ".exe");
    EXPECT_EQ(host.folderSeparator, '\\');
    EXPECT_EQ(host.installRootVariables, windows.installRootVariables);
    EXPECT_EQ(host.installSubfolders, windows.installSubfolders);
    EXPECT_EQ(host.fixedFolders, windows.fixedFolders);
}

// The four variables of the search, replaced for one test and restored after.
struct Win32Search : ::testing::Test {
    test::TempDir dir;
    test::ScopedEnv path{"PATH", std::nullopt};
    test::ScopedEnv program_files{"ProgramFiles", std::nullopt};
    test::ScopedEnv program_files_x86{"ProgramFiles(x86)", std::nullopt};
    test::ScopedEnv local_app_data{"LOCALAPPDATA", std::nullopt};

    std::string text(const fs::path& p) const { return test::to_utf8(p.wstring()); }
    std::string folder(const std::string& name) const {
        auto p = dir.path() / fs::path(std::u8string(name.begin(), name.end()));
        p.make_preferred();
        fs::create_directories(p);
        return text(p);
    }
    std::string tool(const std::string& in, const std::string& file_name) const {
        const auto p = folder(in) + "\\" + file_name;
        dir.write(in + "/" + file_name, "MZ");
        return p;
    }
    static void set(const char* name, const std::string& value) {
        ::SetEnvironmentVariableW(test::to_wide(name).c_str(), test::to_wide(value).c_str());
    }
    // True when the machine itself has the tool in one of the fixed folders,
    // which no test can take away.
    static bool machine_has(const std::string& name) {
        for (const auto& fixed : windows_rules().fixedFolders)
            if (runnable_file(fixed + "\\" + name + ".exe")) return true;
        return false;
    }
};

TEST_F(Win32Search, PathEntriesInOrderWithQuotedSemicolons) {
    tool("first", "ffmpeg.exe");
    const auto quoted = tool("semi;colon \xE6\x98\xA0", "ffmpeg.exe");
    set("PATH", folder("empty") + ";\"" + folder("semi;colon \xE6\x98\xA0") + "\";" + folder("first"));
    EXPECT_EQ(find_tool("ffmpeg", std::nullopt), quoted);
}

TEST_F(Win32Search, OnlyFilesWithTheExeSuffixCount) {
    fs::create_directories(dir.path() / "a" / "ffmpeg.exe");  // a folder of that name
    dir.write("b/ffmpeg", "MZ");                              // no suffix
    const auto real = tool("c", "ffmpeg.exe");
    set("PATH", folder("a") + ";" + folder("b") + ";" + folder("c"));
    EXPECT_EQ(find_tool("ffmpeg", std::nullopt), real);
}

TEST_F(Win32Search, InstallRootsFollowPathAndSkipUnsetVariables) {
    // ProgramFiles stays unset; ProgramFiles(x86) and LOCALAPPDATA are searched.
    const auto mkvmerge = tool("x86/MKVToolNix", "mkvmerge.exe");
    const auto ffprobe = tool("local/ffmpeg/bin", "ffprobe.exe");
    set("ProgramFiles(x86)", folder("x86"));
    set("LOCALAPPDATA", folder("local"));
    set("PATH", folder("nothing here"));
    EXPECT_EQ(find_tool("mkvmerge", std::nullopt), mkvmerge);
    EXPECT_EQ(find_tool("ffprobe", std::nullopt), ffprobe);

    // With PATH holding it too, the PATH copy wins.
    const auto on_path = tool("nothing here", "mkvmerge.exe");
    EXPECT_EQ(find_tool("mkvmerge", std::nullopt), on_path);
}

TEST_F(Win32Search, ConfiguredLocationsTrimmedFileOrFolder) {
    const auto configured = tool("my tools", "ffmpeg.exe");
    const auto renamed = tool("my tools", "ffmpeg-7.exe");
    const auto on_path = tool("path", "ffmpeg.exe");
    set("PATH", folder("path"));
    EXPECT_EQ(find_tool("ffmpeg", "  " + configured + "\t"), configured);
    EXPECT_EQ(find_tool("ffmpeg", folder("my tools")), configured);
    EXPECT_EQ(find_tool("ffmpeg", renamed), renamed);
    EXPECT_EQ(find_tool("ffmpeg", folder("my tools") + "\\missing"), on_path);
    EXPECT_EQ(find_tool("ffmpeg", "   "), on_path);
}

TEST_F(Win32Search, WinGetLinkToAnExecutableIsFound) {
    const auto target = tool("winget packages/ffmpeg/bin", "ffmpeg.exe");
    const auto links = folder("local/Microsoft/WinGet/Links");
    const auto link = links + "\\ffmpeg.exe";
    if (!test::make_symbolic_link(link, target)) GTEST_SKIP() << "this system makes no symbolic links";
    const auto dangling = links + "\\ffprobe.exe";
    ASSERT_TRUE(test::make_symbolic_link(dangling, links + "\\gone.exe"));
    set("LOCALAPPDATA", folder("local"));
    EXPECT_EQ(find_tool("ffmpeg", std::nullopt), link);
    if (!machine_has("ffprobe")) {
        EXPECT_EQ(find_tool("ffprobe", std::nullopt), std::nullopt);
    }
}

TEST_F(Win32Search, LocateToolsNamesTheFirstMissingTool) {
    if (machine_has("ffmpeg") || machine_has("ffprobe")) GTEST_SKIP() << "this machine has the tools installed";
    set("PATH", folder("empty"));
    auto none = locate_tools(ToolLocations{});
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error(), "ffmpeg was not found. Install it or set its location in Settings.");

    const auto ffmpeg = tool("bin", "ffmpeg.exe");
    const auto ffprobe = tool("bin", "ffprobe.exe");
    set("PATH", folder("bin"));
    auto found = locate_tools(ToolLocations{});
    ASSERT_TRUE(found) << found.error();
    EXPECT_EQ(found->ffmpeg, ffmpeg);
    EXPECT_EQ(found->ffprobe, ffprobe);
}

}  // namespace
}  // namespace reel

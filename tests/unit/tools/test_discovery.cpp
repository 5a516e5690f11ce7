// Finding the tools: the Windows rules against a fake environment and file
// probe, the POSIX rules against real temporary folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "support/fake_tool.h"
#include "support/temp_dir.h"
#include "tools/toolset.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

// A fake Windows machine: environment variables and the files that exist.
struct FakeMachine {
    std::map<std::string, std::string> env;
    std::set<std::string> files;

    std::optional<std::string> find(const std::string& name, std::optional<std::string> configured = std::nullopt) const {
        return find_tool(
            name, configured, windows_rules(),
            [this](const std::string& key) -> std::optional<std::string> {
                const auto it = env.find(key);
                if (it == env.end()) return std::nullopt;
                return it->second;
            },
            [this](const std::string& path) { return files.contains(path); });
    }
};

TEST(WindowsRules, SplitPathListWithQuotes) {
    const auto rules = windows_rules();
    EXPECT_EQ(split_path_list(R"(C:\a;"C:\b;c";;D:\d)", rules),
              (std::vector<std::string>{"C:\\a", "C:\\b;c", "", "D:\\d"}));
    EXPECT_EQ(split_path_list(R"(C:\x"y"z;)", rules), (std::vector<std::string>{"C:\\xyz", ""}));
    EXPECT_EQ(split_path_list("", rules), (std::vector<std::string>{""}));
}

TEST(PosixRules, SplitPathListWithoutQuotes) {
    const auto rules = posix_rules();
    EXPECT_EQ(split_path_list("/a::\"/b\":", rules), (std::vector<std::string>{"/a", "", "\"/b\"", ""}));
}

TEST(JoinFolder, SeparatorsAndEmptyFolder) {
    EXPECT_EQ(join_folder("C:\\x", "ffmpeg.exe", windows_rules()), "C:\\x\\ffmpeg.exe");
    EXPECT_EQ(join_folder("C:\\x\\", "ffmpeg.exe", windows_rules()), "C:\\x\\ffmpeg.exe");
    EXPECT_EQ(join_folder("", "ffmpeg.exe", windows_rules()), "ffmpeg.exe");
    EXPECT_EQ(join_folder("/usr/bin", "ffmpeg", posix_rules()), "/usr/bin/ffmpeg");
    EXPECT_EQ(join_folder("/usr/bin/", "ffmpeg", posix_rules()), "/usr/bin/ffmpeg");
}

TEST(WindowsRules, CandidateFoldersInOrder) {
    FakeMachine m;
    m.env = {{"PATH", "C:\\bin"}, {"ProgramFiles(x86)", "C:\\PF86"}, {"LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local"}};
    const auto env = [&](const std::string& k) -> std::optional<std::string> {
        if (m.env.contains(k)) return m.env.at(k);
        return std::nullopt;
    };
    // ProgramFiles is unset: its three folders are skipped, the rest follow.
    EXPECT_EQ(candidate_folders(windows_rules(), env),
              (std::vector<std::string>{"C:\\bin", "C:\\PF86\\MKVToolNix", "C:\\PF86\\ffmpeg\\bin",
                                        "C:\\PF86\\Microsoft\\WinGet\\Links",
                                        "C:\\Users\\u\\AppData\\Local\\MKVToolNix",
                                        "C:\\Users\\u\\AppData\\Local\\ffmpeg\\bin",
                                        "C:\\Users\\u\\AppData\\Local\\Microsoft\\WinGet\\Links", "C:\\ffmpeg\\bin",
                                        "C:\\Program Files\\MKVToolNix"}));
}

TEST(WindowsRules, SearchOrderAndQuotedEntries) {
    FakeMachine m;
    m.env = {{"PATH", R"(C:\empty;"C:\odd;dir";C:\second)"}};
    m.files = {"C:\\ffmpeg\\bin\\ffmpeg.exe", "C:\\second\\ffmpeg.exe", "C:\\odd;dir\\ffprobe.exe"};
    EXPECT_EQ(m.find("ffmpeg"), "C:\\second\\ffmpeg.exe");  // PATH before the fixed folder
    EXPECT_EQ(m.find("ffprobe"), "C:\\odd;dir\\ffprobe.exe");
    EXPECT_EQ(m.find("mkvmerge"), std::nullopt);

    m.files.insert("C:\\empty\\ffmpeg.exe");
    EXPECT_EQ(m.find("ffmpeg"), "C:\\empty\\ffmpeg.exe");  // earlier entry wins
}

TEST(WindowsRules, InstallFoldersServeEveryTool) {
    FakeMachine m;
    m.env = {{"ProgramFiles", "C:\\Program Files"}, {"LOCALAPPDATA", "C:\\L"}};
    m.files = {"C:\\Program Files\\MKVToolNix\\ffmpeg.exe", "C:\\L\\Microsoft\\WinGet\\Links\\mkvmerge.exe",
               "C:\\Program Files\\MKVToolNix\\mkvmerge"};  // no ".exe": never tried in folders
    EXPECT_EQ(m.find("ffmpeg"), "C:\\Program Files\\MKVToolNix\\ffmpeg.exe");
    EXPECT_EQ(m.find("mkvmerge"), "C:\\L\\Microsoft\\WinGet\\Links\\mkvmerge.exe");
}

TEST(WindowsRules, ConfiguredLocation) {
    FakeMachine m;
    m.env = {{"PATH", "C:\\bin"}};
    m.files = {"C:\\bin\\ffmpeg.exe", "D:\\tools\\ffmpeg.exe", "D:\\renamed.exe"};
    EXPECT_EQ(m.find("ffmpeg", "  D:\\tools\\ffmpeg.exe\t"), "D:\\tools\\ffmpeg.exe");
    EXPECT_EQ(m.find("ffmpeg", "D:\\tools"), "D:\\tools\\ffmpeg.exe");
    EXPECT_EQ(m.find("ffmpeg", "D:\\renamed.exe"), "D:\\renamed.exe");
    EXPECT_EQ(m.find("ffmpeg", "D:\\nowhere"), "C:\\bin\\ffmpeg.exe");
    EXPECT_EQ(m.find("ffmpeg", "   "), "C:\\bin\\ffmpeg.exe");
    EXPECT_EQ(m.find("ffmpeg", "\xE3\x80\x80" "D:\\tools\xC2\xA0"), "D:\\tools\\ffmpeg.exe");  // Unicode blanks
    EXPECT_EQ(m.find("ffprobe", "D:\\tools"), std::nullopt);
}

// Real folders and files with the POSIX rules.
struct PosixSearch : ::testing::Test {
    test::TempDir dir;
    std::map<std::string, std::string> env;

    fs::path folder(const std::string& name) {
        fs::create_directories(dir / name);
        return dir / name;
    }
    fs::path tool(const std::string& in, const std::string& name) {
        return test::write_fake_tool(folder(in), name, "exit 0");
    }
    std::optional<std::string> find(const std::string& name, std::optional<std::string> configured = std::nullopt) {
        auto rules = posix_rules();
        rules.fixedFolders.clear();  // keep the machine's own tools out of the picture
        return find_tool(
            name, configured, rules,
            [this](const std::string& key) -> std::optional<std::string> {
                if (env.contains(key)) return env.at(key);
                return std::nullopt;
            },
            runnable_file);
    }
};

TEST_F(PosixSearch, PathOrder) {
    const auto first = tool("first", "ffmpeg");
    const auto second = tool("second", "ffmpeg");
    env["PATH"] = (dir / "missing").string() + ":" + (dir / "second").string() + ":" + (dir / "first").string();
    EXPECT_EQ(find("ffmpeg"), second.string());
    EXPECT_EQ(find("ffprobe"), std::nullopt);
}

TEST_F(PosixSearch, ConfiguredLocations) {
    const auto on_path = tool("path", "ffmpeg");
    const auto configured = tool("my tools", "ffmpeg");
    const auto renamed = tool("my tools", "ffmpeg-6.1");
    env["PATH"] = (dir / "path").string();
    EXPECT_EQ(find("ffmpeg", "  " + configured.string() + " \n"), configured.string());
    EXPECT_EQ(find("ffmpeg", (dir / "my tools").string()), configured.string());
    EXPECT_EQ(find("ffmpeg", renamed.string()), renamed.string());
    EXPECT_EQ(find("ffmpeg", (dir / "does not exist").string()), on_path.string());
    EXPECT_EQ(find("ffmpeg", " \t "), on_path.string());
}

TEST_F(PosixSearch, NotRunnableCandidatesAreSkipped) {
    // A folder named like the tool, a dangling link and a file without the
    // execute bit come first on PATH; the real one comes last.
    fs::create_directories(dir / "a" / "ffmpeg");
    fs::create_directories(dir / "b");
    fs::create_symlink(dir / "gone", dir / "b" / "ffmpeg");
    dir.write("c/ffmpeg", "#!/bin/sh\n");
    const auto real = tool("d", "ffmpeg");
    env["PATH"] = (dir / "a").string() + ":" + (dir / "b").string() + ":" + (dir / "c").string() + ":" +
                  (dir / "d").string();
    EXPECT_EQ(find("ffmpeg"), real.string());
    EXPECT_EQ(find("ffmpeg", (dir / "c" / "ffmpeg").string()), real.string());
    EXPECT_EQ(find("ffmpeg", (dir / "a").string()), real.string());  // a/ffmpeg is a folder

    // A link to an executable counts, under the link's own name.
    fs::create_symlink(real, dir / "linked");
    EXPECT_EQ(find("ffmpeg", (dir / "linked").string()), (dir / "linked").string());
}

TEST_F(PosixSearch, EmptyEntryMeansCurrentFolder) {
    tool("cwd", "mkvmerge");
    const auto previous = fs::current_path();
    fs::current_path(dir / "cwd");
    env["PATH"] = (dir / "nothing").string() + "::";
    const auto found = find("mkvmerge");
    fs::current_path(previous);
    EXPECT_EQ(found, "mkvmerge");
}

TEST(LocateTools, MessagesInOrder) {
    const auto locate = [](std::set<std::string> present) {
        ToolLocations where;
        where.ffprobe = "/configured/ffprobe";
        return locate_tools(where, [present](const std::string& name, const std::optional<std::string>& configured)
                                       -> std::optional<std::string> {
            if (!present.contains(name)) return std::nullopt;
            return configured.value_or("/bin/" + name);
        });
    };
    const std::string no_ffmpeg = "ffmpeg was not found. Install it or set its location in Settings.";
    EXPECT_EQ(locate({}).error(), no_ffmpeg);
    EXPECT_EQ(locate({"ffprobe", "mkvmerge"}).error(), no_ffmpeg);
    EXPECT_EQ(locate({"ffmpeg", "mkvmerge"}).error(),
              "ffprobe was not found. It ships with ffmpeg; set its location in Settings.");
    const auto without_mkvmerge = locate({"ffmpeg", "ffprobe"});
    ASSERT_TRUE(without_mkvmerge.has_value());
    EXPECT_EQ(without_mkvmerge->ffmpeg, "/bin/ffmpeg");
    EXPECT_EQ(without_mkvmerge->ffprobe, "/configured/ffprobe");
    EXPECT_EQ(without_mkvmerge->mkvmerge, std::nullopt);
    EXPECT_EQ(locate({"ffmpeg", "ffprobe", "mkvmerge"})->mkvmerge, "/bin/mkvmerge");

    EXPECT_EQ(require_mkvmerge(ToolSet{"f", "p", std::nullopt, std::nullopt, std::nullopt}).error(),
              "mkvmerge (part of MKVToolNix) was not found. Install MKVToolNix or set its location in Settings.");
    EXPECT_EQ(require_mkvmerge(ToolSet{"f", "p", "/x/mkvmerge", std::nullopt, std::nullopt}).value(), "/x/mkvmerge");
}

}  // namespace
}  // namespace reel

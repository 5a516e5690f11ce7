// The work folder: private, created fresh, never through a link; folders of
// dead runs removed by the next run.
#include <gtest/gtest.h>

#include <filesystem>

#include <fmt/format.h>

#include "pipeline/work_folder.h"
#include "support/temp_dir.h"
#include "tools/process.h"
#include "util/files.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

TEST(WorkFolder, ProcessIdFromTheName) {
    EXPECT_EQ(work_folder_pid(".reelmender-work-4242-0badc0de"), 4242u);
    EXPECT_EQ(work_folder_pid(".reelmender-work-17"), 17u);  // named before the suffix
    for (const char* name : {".reelmender-work--1", ".reelmender-work-99999999999", "out.mkv"})
        EXPECT_FALSE(work_folder_pid(name).has_value()) << name;
}

TEST(WorkFolder, PrivateFreshAndNeverThroughALink) {
    test::TempDir dir;
    const auto work = create_work_folder(dir / "out.mkv", true);
    ASSERT_TRUE(work.has_value()) << work.error();
    EXPECT_EQ(fs::status(*work).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_NE(*work, create_work_folder(dir / "out.mkv", false).value());  // a fresh name each time

    // A link planted with the very name is not followed, nor is a folder taken over.
    fs::create_directories(dir / "theirs");
    fs::create_directory_symlink(dir / "theirs", dir / "planted");
    EXPECT_EQ(create_private_folder(path_text(dir / "planted")).error(), "File exists");
    EXPECT_EQ(create_private_folder(path_text(dir / "theirs")).error(), "File exists");
    EXPECT_TRUE(fs::is_empty(dir / "theirs"));

    // The next run removes a dead run's folder, but not one kept on purpose.
    auto child = start_child("/bin/true", {});
    ASSERT_TRUE(child.has_value() && (*child)->wait().has_value());
    const auto dead = dir / fmt::format(".reelmender-work-{}-x", (*child)->pid());
    fs::create_directories(dead / "seg");
    fs::rename(*work, dir / fmt::format(".reelmender-work-{}-kept", (*child)->pid()));
    remove_stale_work_folders(dir.path());
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(dir / fmt::format(".reelmender-work-{}-kept/.kept", (*child)->pid())));
}

}  // namespace
}  // namespace reel

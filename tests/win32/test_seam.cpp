// The rest of the Win32 seam: environment, process id and file metadata that
// follows links, all with names outside the ANSI code page.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "tools/process.h"
#include "util/files.h"
#include "win32_support.h"

namespace reel {
namespace {

const std::string unicode_name = "reel_\xC3\xBC\xE6\x98\xA0";  // "reel_ü映"

TEST(Win32Environment, ReadsSetEmptyAndMissingVariables) {
    {
        test::ScopedEnv set(unicode_name, "C:\\Programme \xE2\x9C\x93");
        EXPECT_EQ(get_env(unicode_name), "C:\\Programme \xE2\x9C\x93");
    }
    {
        test::ScopedEnv empty(unicode_name, "");
        EXPECT_EQ(get_env(unicode_name), "");
    }
    {
        test::ScopedEnv missing(unicode_name, std::nullopt);
        EXPECT_EQ(get_env(unicode_name), std::nullopt);
    }
    EXPECT_EQ(get_env(""), std::nullopt);
}

TEST(Win32Environment, ReadsValuesLongerThanAFirstGuess) {
    const std::string long_value(5000, 'x');
    test::ScopedEnv set(unicode_name, long_value);
    EXPECT_EQ(get_env(unicode_name), long_value);
}

TEST(Win32Environment, NamesAreCaseInsensitive) {
    test::ScopedEnv set("REEL_CASE_TEST", "yes");
    EXPECT_EQ(get_env("reel_case_test"), "yes");
}

TEST(Win32Process, CurrentProcessIdIsTheSystems) { EXPECT_EQ(current_process_id(), ::GetCurrentProcessId()); }

std::string utf8(const std::filesystem::path& path) { return test::to_utf8(path.wstring()); }

TEST(Win32FileInfo, TellsFilesFoldersAndMissingPathsApart) {
    test::TempDir dir;
    const auto file = dir.write(unicode_name + ".exe", "MZ");
    std::filesystem::create_directory(dir.path() / "folder.exe");

    const auto regular = file_info(utf8(file));
    ASSERT_TRUE(regular);
    EXPECT_TRUE(regular->isRegular);
    EXPECT_FALSE(regular->isDirectory);
    EXPECT_TRUE(regular->executable);

    const auto folder = file_info(utf8(dir.path() / "folder.exe"));
    ASSERT_TRUE(folder);
    EXPECT_FALSE(folder->isRegular);
    EXPECT_TRUE(folder->isDirectory);

    EXPECT_FALSE(file_info(utf8(dir.path() / "missing.exe")));
    EXPECT_FALSE(file_info(""));
    EXPECT_FALSE(file_info(utf8(file) + std::string(1, '\0') + "x"));
}

TEST(Win32FileInfo, FollowsLinksAndRejectsDanglingOnes) {
    test::TempDir dir;
    const auto target = dir.write("target.exe", "MZ");
    const auto link = dir.path() / "link.exe";
    const auto dangling = dir.path() / "dangling.exe";
    if (!test::make_symbolic_link(test::to_utf8(link.wstring()), test::to_utf8(target.wstring())))
        GTEST_SKIP() << "this system makes no symbolic links";
    ASSERT_TRUE(test::make_symbolic_link(test::to_utf8(dangling.wstring()), test::to_utf8((dir.path() / "gone.exe").wstring())));

    const auto followed = file_info(utf8(link));
    ASSERT_TRUE(followed);
    EXPECT_TRUE(followed->isRegular);
    EXPECT_FALSE(file_info(utf8(dangling)));
}

TEST(Win32Paths, Utf8TextNamesTheSameFileAsTheSystemsUtf16Name) {
    // The narrow std::filesystem::path constructor decodes with the ANSI code
    // page on Windows; text from the command line must go through path_from_text.
    test::TempDir dir;
    const std::string name = unicode_name + " \xF0\x9F\x8E\xAC.txt";
    const std::string full = utf8(dir.path()) + "\\" + name;
    ASSERT_TRUE(write_file(path_from_text(full), "bytes"));

    const std::wstring wide = test::to_wide(full);
    EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(path_text(path_from_text(full)), full);
    EXPECT_EQ(read_file(path_from_text(full)), "bytes");
    const auto info = file_info(full);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->isRegular);
}

}  // namespace
}  // namespace reel

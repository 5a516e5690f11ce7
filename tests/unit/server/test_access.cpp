#include <gtest/gtest.h>

#include <filesystem>

#include "access.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

TEST(Access, HostMustNameThisServer) {
    struct Case { std::string host; int port; bool allowed; };
    const Case cases[] = {
        {"127.0.0.1:8765", 8765, true},     {"localhost:8765", 8765, true},   {"LocalHost:8765", 8765, true},
        {"127.0.0.1:8766", 8765, false},    {"127.0.0.1", 8765, false},       {"127.0.0.1", 80, true},
        {"evil.example:8765", 8765, false}, {"localhost.evil:8765", 8765, false},
        {"127.0.0.2:8765", 8765, false},    {"[::1]:8765", 8765, false},      {"", 8765, false},
    };
    for (const Case& c : cases) EXPECT_EQ(host_allowed(c.host, c.port), c.allowed) << c.host << " port " << c.port;
}

TEST(Access, TokensAndCookies) {
    const std::string token = random_token();
    EXPECT_EQ(token.size(), 64u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(random_token(), token);

    EXPECT_TRUE(same_token(token, token));
    EXPECT_FALSE(same_token(token.substr(1), token));
    EXPECT_FALSE(same_token("", ""));  // a server without a token lets nobody in
    std::string flipped = token;
    flipped.back() = flipped.back() == '0' ? '1' : '0';
    EXPECT_FALSE(same_token(flipped, token));

    EXPECT_EQ(cookie_value("a=1; reelmender-8765=abc;b=2", "reelmender-8765"), "abc");
    EXPECT_EQ(cookie_value("reelmender-87650=abc", "reelmender-8765"), std::nullopt);
    EXPECT_EQ(cookie_value("", "reelmender-8765"), std::nullopt);
    EXPECT_NE(token_cookie_name(8765), token_cookie_name(8766));
}

TEST(Access, PathsStayInsideTheRoot) {
    test::TempDir dir;
    dir.write("root/movie.mkv", "m");
    dir.write("root/sub/clip.mkv", "c");
    dir.write("outside/secret.mkv", "s");
    fs::create_directory_symlink(dir / "outside", dir / "root" / "out-folder");
    fs::create_symlink(dir / "outside" / "secret.mkv", dir / "root" / "out-file.mkv");
    fs::create_symlink(dir / "root" / "movie.mkv", dir / "root" / "sub" / "in-file.mkv");
    const auto roots = canonical_roots({(dir / "root").string()});
    ASSERT_TRUE(roots) << roots.error();
    const fs::path& root = roots->front();

    struct Allowed { std::string relative; fs::path expected; };
    const Allowed allowed[] = {
        {"", root},
        {"movie.mkv", root / "movie.mkv"},
        {"sub/clip.mkv", root / "sub" / "clip.mkv"},
        {"./sub//clip.mkv", root / "sub" / "clip.mkv"},
        {"sub/in-file.mkv", root / "movie.mkv"},            // a link that stays inside
        {"sub/new (edited).mkv", root / "sub" / "new (edited).mkv"},  // an output not yet written
    };
    for (const Allowed& a : allowed) {
        const auto path = resolve_inside(root, a.relative);
        ASSERT_TRUE(path) << a.relative << ": " << path.error();
        EXPECT_EQ(*path, a.expected) << a.relative;
    }

    const std::string refused[] = {
        "..",          "../outside/secret.mkv", "sub/../../outside/secret.mkv", "sub/..",
        "/etc/passwd", (dir / "outside" / "secret.mkv").string(), "out-file.mkv", "out-folder/secret.mkv",
        "out-folder/new.mkv", "sub\\..\\..\\x", std::string("movie.mkv\0x", 11),
    };
    for (const std::string& relative : refused) EXPECT_FALSE(resolve_inside(root, relative)) << relative;
}

TEST(Access, RootsMustBeFolders) {
    test::TempDir dir;
    dir.write("file.txt", "x");
    EXPECT_EQ(canonical_roots({(dir / "file.txt").string()}).error(),
              "--root '" + (dir / "file.txt").string() + "' is not a folder");
    const auto missing = canonical_roots({(dir / "missing").string()});
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().starts_with("--root '" + (dir / "missing").string() + "': ")) << missing.error();
}

}  // namespace
}  // namespace reel

// Every refusal a user can meet in an edit run ends the program with status 1
// and its one message, and leaves neither a work folder nor an output behind.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "util/files.h"

namespace reel {
namespace {

test::MovieSpec ten_seconds() { return e2e::small_movie(10); }

struct FailureCase {
    const char* name;
    test::MovieSpec movie;
    std::vector<std::string> args;  // after the movie; "list.csv" names the edit list
    std::string edit_list;
    std::string message;
};

class PipelineFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PipelineFailures, EndWithTheMessageAndLeaveNothingBehind) {
    const auto& c = GetParam();
    const auto source = e2e::movie(c.movie);
    test::TempDir dir;
    dir.write("list.csv", c.edit_list);
    const auto output = dir / "out.mkv";
    std::vector<std::string> args{source};
    for (const auto& a : c.args) args.push_back(a == "list.csv" ? path_text(dir / "list.csv") : a);
    args.insert(args.end(), {"--out", path_text(output)});

    auto run = test::run_cli(args);
    ASSERT_TRUE(run.has_value()) << run.error();
    EXPECT_EQ(run->exit_code, 1);
    EXPECT_EQ(run->out, "");
    const std::string expected = "error: " + c.message + "\n";
    ASSERT_GE(run->err.size(), expected.size()) << run->err;
    EXPECT_EQ(run->err.substr(run->err.size() - expected.size()), expected) << run->err;
    EXPECT_TRUE(e2e::work_folders(dir.path()).empty());
    EXPECT_FALSE(std::filesystem::exists(output));
}

test::MovieSpec theora() {
    auto spec = ten_seconds();
    spec.video_codec = "libtheora";
    return spec;
}

test::MovieSpec audio_only() {
    auto spec = ten_seconds();
    spec.video_codec = "";
    return spec;
}

// Keyframes lie every 2 s (at 0.021, 2.021, ... after the audio's priming delay).
INSTANTIATE_TEST_SUITE_P(
    Cases, PipelineFailures,
    ::testing::Values(
        FailureCase{"NoEnabledEdits", ten_seconds(), {"--edits", "list.csv"},
                    "start,end,action,text,card_seconds,enabled\n1,2,remove,,,no\n3,4,mute,,,off\n",
                    "There are no enabled edits to apply."},
        FailureCase{"InvalidRange", ten_seconds(), {"--remove", "50-60"}, "",
                    "Edit arg1 has an invalid range (50.000 to 60.000); the movie is 10.02 s long."},
        FailureCase{"CardWithoutText", ten_seconds(), {"--mute", "5-6", "--card", "1-3", "  "}, "",
                    "Edit arg2 needs some text for its card."},
        FailureCase{"Overlap", ten_seconds(), {"--remove", "1-3", "--mute", "2-4"}, "",
                    "Edits overlap: 1.00-3.00 and 2.00-4.00."},
        FailureCase{"ShorterThanKeyframeDistance", ten_seconds(), {"--remove", "4.2-4.8"}, "",
                    "Edit at 4.20s is shorter than the distance between keyframes there; nothing can be cut without "
                    "re-encoding. Widen it a little."},
        FailureCase{"OverlapAfterSnapping", ten_seconds(), {"--remove", "2.2-3.2", "--mute", "3.5-3.8"}, "",
                    "After snapping to keyframes, the edits at 2.20s and 3.50s overlap. Move them a little further "
                    "apart."},
        FailureCase{"EverythingRemoved", ten_seconds(), {"--remove", "0-10"}, "",
                    "Everything would be removed; nothing left to write."},
        FailureCase{"OnlyCardsLeft", ten_seconds(), {"--remove", "0-4", "--card", "4-10", "The End"}, "",
                    "Everything would be removed; nothing left to write."},
        FailureCase{"InvalidCardLength", ten_seconds(), {"--card", "2-4", "Hi", "--card-seconds", "100000000"}, "",
                    "--card-seconds must be between 0.5 and 3600 seconds, not '100000000'"},
        FailureCase{"CodecWithoutCardEncoder", theora(), {"--remove", "6-8", "--card", "2-4", "Hi"}, "",
                    "The video is encoded with 'theora', which ffmpeg cannot encode, so text cards cannot be "
                    "inserted. Remove and Mute still work."},
        FailureCase{"NoVideoStream", audio_only(), {"--remove", "2-4"}, "", "The file has no video stream."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PipelineFailures, OutputNamingTheMovieIsRefusedBeforeAnythingIsWritten) {
    const auto cached = e2e::movie(ten_seconds());
    test::TempDir dir;
    // A copy of its own: a failing check must not be able to damage the cache.
    const auto movie = dir / "films/movie.mkv";
    std::filesystem::create_directories(movie.parent_path());
    std::filesystem::copy_file(cached, movie);
    std::filesystem::create_symlink(movie, dir / "link.mkv");
    const std::string original = test::slurp(movie);

    for (const std::string& out : {path_text(movie), path_text(dir / "films/./../films/movie.mkv"),
                                   path_text(dir / "link.mkv")}) {
        auto run = test::run_cli({path_text(movie), "--remove", "2-4", "--out", out});
        ASSERT_TRUE(run.has_value()) << run.error();
        EXPECT_EQ(run->exit_code, 1) << out;
        EXPECT_EQ(run->err, "error: the output would overwrite the movie\n") << out;
        EXPECT_TRUE(e2e::work_folders(movie.parent_path()).empty());
        EXPECT_TRUE(e2e::work_folders(dir.path()).empty());
    }
    // A link to the movie named as the movie, with the real file as output.
    auto run = test::run_cli({path_text(dir / "link.mkv"), "--remove", "2-4", "--out", path_text(movie), "--quiet"});
    ASSERT_TRUE(run.has_value()) << run.error();
    EXPECT_EQ(run->exit_code, 1);
    EXPECT_EQ(test::slurp(movie), original);
}

}  // namespace
}  // namespace reel

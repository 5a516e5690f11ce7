// "--probe" through the built program, compared with ffprobe's own report, and
// the program's answer to files that are no movies.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "support/media.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using test::MovieSpec;
using test::SubtitleFormat;

MovieSpec probe_movie_spec() {
    MovieSpec spec;
    spec.duration = 12;
    spec.width = 480;
    spec.height = 270;
    spec.title = "Probe \"Test\" Movie";
    spec.audio = {{.codec = "aac", .language = "eng", .title = "Main", .is_default = true},
                  {.codec = "ac3", .channels = 6, .layout = "5.1(side)", .sample_rate = 44100, .language = "ger",
                   .title = "Kommentar"}};
    spec.subtitles = {{.format = SubtitleFormat::Srt, .language = "eng", .title = "Full"},
                      {.format = SubtitleFormat::Ass, .language = "fre", .title = "Signs", .forced = true}};
    spec.chapters = {{0, "Opening"}, {4, "Middle"}, {8.5, "End credits"}};
    return spec;
}

// ffprobe's value of a member as the probe document should carry it: strings
// holding numbers become numbers, missing or "unknown" members become null.
json as_text(const json& object, const char* key) {
    if (!object.contains(key) || object[key] == "unknown") return nullptr;
    return object[key];
}
json as_integer(const json& object, const char* key) {
    if (!object.contains(key)) return nullptr;
    const json& value = object[key];
    return value.is_string() ? json(std::stoll(value.get<std::string>())) : value;
}
json as_double(const json& object, const char* key) { return std::stod(object[key].get<std::string>()); }
json tag(const json& stream, const char* key) {
    if (!stream.contains("tags") || !stream["tags"].contains(key)) return nullptr;
    return stream["tags"][key];
}
json flag(const json& stream, const char* key) { return stream["disposition"][key] == 1; }

std::vector<std::string> keys_of(const ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

TEST(ProbeCli, PrintsTheDocumentWithFfprobesValues) {
    const auto movie = test::test_movie(probe_movie_spec());
    ASSERT_TRUE(movie) << movie.error();
    const auto run = test::run_cli({*movie, "--probe"});
    ASSERT_TRUE(run) << run.error();
    ASSERT_EQ(run->exit_code, 0) << run->err;
    EXPECT_EQ(run->err, "");
    ASSERT_EQ(run->out.rfind("{\n  \"path\": ", 0), 0u) << run->out;
    ASSERT_TRUE(run->out.ends_with("\n}\n")) << run->out;

    const ordered_json doc = ordered_json::parse(run->out);
    const json report = test::ffprobe_report(*movie);
    const json& format = report["format"];
    const json& streams = report["streams"];
    ASSERT_EQ(streams.size(), 5u);

    EXPECT_EQ(keys_of(doc), (std::vector<std::string>{"path", "fileName", "container", "duration", "size", "title",
                                                      "video", "audio", "subtitles", "chapters"}));
    EXPECT_EQ(doc["path"], *movie);
    EXPECT_EQ(doc["fileName"], std::filesystem::path(*movie).filename().string());
    EXPECT_EQ(doc["container"], format["format_name"]);
    EXPECT_EQ(doc["duration"], as_double(format, "duration"));
    EXPECT_EQ(doc["size"], as_integer(format, "size"));
    EXPECT_EQ(doc["size"], std::filesystem::file_size(*movie));
    EXPECT_EQ(doc["title"], "Probe \"Test\" Movie");
    EXPECT_EQ(doc["title"], format["tags"]["title"]);

    const ordered_json& video = doc["video"];
    const json& v = streams[0];
    EXPECT_EQ(keys_of(video),
              (std::vector<std::string>{"index", "codec", "profile", "level", "width", "height", "fpsNum", "fpsDen",
                                        "pixFmt", "colorRange", "colorSpace", "colorTransfer", "colorPrimaries",
                                        "chromaLocation", "sar", "fieldOrder", "bitRate", "nbFrames"}));
    EXPECT_EQ(video["index"], v["index"]);
    EXPECT_EQ(video["codec"], "h264");
    EXPECT_EQ(video["profile"], as_text(v, "profile"));
    EXPECT_EQ(video["level"], as_integer(v, "level"));
    EXPECT_EQ(video["width"], 480);
    EXPECT_EQ(video["height"], 270);
    EXPECT_EQ(v["avg_frame_rate"], "25/1");
    EXPECT_EQ(video["fpsNum"], 25);
    EXPECT_EQ(video["fpsDen"], 1);
    EXPECT_EQ(video["pixFmt"], as_text(v, "pix_fmt"));
    EXPECT_EQ(video["colorRange"], as_text(v, "color_range"));
    EXPECT_EQ(video["colorSpace"], as_text(v, "color_space"));
    EXPECT_EQ(video["colorTransfer"], as_text(v, "color_transfer"));
    EXPECT_EQ(video["colorPrimaries"], as_text(v, "color_primaries"));
    EXPECT_EQ(video["chromaLocation"], as_text(v, "chroma_location"));
    EXPECT_EQ(video["sar"], as_text(v, "sample_aspect_ratio"));
    EXPECT_EQ(video["fieldOrder"], as_text(v, "field_order"));
    EXPECT_EQ(video["bitRate"], as_integer(v, "bit_rate"));
    EXPECT_EQ(video["nbFrames"], 300) << "Matroska keeps the count in the NUMBER_OF_FRAMES tag";
    EXPECT_EQ(video["nbFrames"], std::stoll(tag(v, "NUMBER_OF_FRAMES").get<std::string>()));

    ASSERT_EQ(doc["audio"].size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const ordered_json& audio = doc["audio"][i];
        const json& a = streams[1 + i];
        EXPECT_EQ(keys_of(audio), (std::vector<std::string>{"index", "codec", "profile", "channels", "channelLayout",
                                                            "sampleRate", "bitRate", "language", "title", "default"}));
        EXPECT_EQ(audio["index"], 1 + i);
        EXPECT_EQ(audio["codec"], a["codec_name"]);
        EXPECT_EQ(audio["profile"], as_text(a, "profile"));
        EXPECT_EQ(audio["channels"], as_integer(a, "channels"));
        EXPECT_EQ(audio["channelLayout"], as_text(a, "channel_layout"));
        EXPECT_EQ(audio["sampleRate"], as_integer(a, "sample_rate"));
        EXPECT_EQ(audio["bitRate"], as_integer(a, "bit_rate"));
        EXPECT_EQ(audio["language"], tag(a, "language"));
        EXPECT_EQ(audio["title"], tag(a, "title"));
        EXPECT_EQ(audio["default"], flag(a, "default"));
    }
    EXPECT_EQ(doc["audio"][0]["default"], true);
    EXPECT_EQ(doc["audio"][1]["default"], false);
    EXPECT_EQ(doc["audio"][1]["channels"], 6);
    EXPECT_EQ(doc["audio"][1]["sampleRate"], 44100);
    EXPECT_EQ(doc["audio"][1]["language"], "ger");

    ASSERT_EQ(doc["subtitles"].size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const ordered_json& sub = doc["subtitles"][i];
        const json& s = streams[3 + i];
        EXPECT_EQ(keys_of(sub), (std::vector<std::string>{"index", "codec", "language", "title", "default", "forced",
                                                          "text"}));
        EXPECT_EQ(sub["index"], 3 + i);
        EXPECT_EQ(sub["codec"], s["codec_name"]);
        EXPECT_EQ(sub["language"], tag(s, "language"));
        EXPECT_EQ(sub["title"], tag(s, "title"));
        EXPECT_EQ(sub["default"], flag(s, "default"));
        EXPECT_EQ(sub["forced"], flag(s, "forced"));
        EXPECT_EQ(sub["text"], true);
    }
    EXPECT_EQ(doc["subtitles"][0]["codec"], "subrip");
    EXPECT_EQ(doc["subtitles"][1]["codec"], "ass");
    EXPECT_EQ(doc["subtitles"][1]["forced"], true);

    const json& chapters = report["chapters"];
    ASSERT_EQ(doc["chapters"].size(), 3u);
    ASSERT_EQ(chapters.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(keys_of(doc["chapters"][i]), (std::vector<std::string>{"start", "end", "title"}));
        EXPECT_EQ(doc["chapters"][i]["start"], as_double(chapters[i], "start_time"));
        EXPECT_EQ(doc["chapters"][i]["end"], as_double(chapters[i], "end_time"));
        EXPECT_EQ(doc["chapters"][i]["title"], tag(chapters[i], "title"));
    }
    EXPECT_EQ(doc["chapters"][1]["start"], 4.0);
    EXPECT_EQ(doc["chapters"][2]["title"], "End credits");
    EXPECT_EQ(doc["chapters"][2]["end"], 12.0);
}

TEST(ProbeCli, AudioOnlyMovieHasNullVideo) {
    MovieSpec spec;
    spec.video_codec = "";
    spec.duration = 3;
    spec.audio = {{.codec = "flac", .channels = 1, .layout = "mono", .sample_rate = 44100}};
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    const auto run = test::run_cli({*movie, "--probe"});
    ASSERT_TRUE(run && run->exit_code == 0) << (run ? run->err : run.error());
    EXPECT_NE(run->out.find("\n  \"video\": null,\n"), std::string::npos) << run->out;
    EXPECT_NE(run->out.find("\n  \"subtitles\": [],\n"), std::string::npos) << run->out;
    const json doc = json::parse(run->out);
    EXPECT_EQ(doc["audio"][0]["codec"], "flac");
    EXPECT_EQ(doc["audio"][0]["channels"], 1);
}

// A bad input file gives exactly one "error: " message on standard error, exit
// status 1, nothing on standard output and no output file; the message holds
// every one of `expected_parts`.
void expect_one_error(const std::vector<std::string>& args, const std::vector<std::string>& expected_parts,
                      const std::filesystem::path& must_not_exist = {}) {
    const auto run = test::run_cli(args);
    ASSERT_TRUE(run) << run.error();
    EXPECT_EQ(run->exit_code, 1) << args[0];
    EXPECT_EQ(run->out, "") << args[0];
    EXPECT_EQ(run->err.rfind("error: ", 0), 0u) << run->err;
    EXPECT_EQ(run->err.find("error: ", 1), std::string::npos) << run->err;
    EXPECT_TRUE(run->err.ends_with("\n")) << run->err;
    for (const std::string& part : expected_parts)
        EXPECT_NE(run->err.find(part), std::string::npos) << "expected '" << part << "' in " << run->err;
    if (!must_not_exist.empty()) {
        EXPECT_FALSE(std::filesystem::exists(must_not_exist)) << must_not_exist;
    }
}

TEST(ProbeCli, FilesThatAreNoMoviesGiveOneClearError) {
    test::TempDir dir;
    const auto text = dir.write("notes.mkv", "These are my notes, not a movie.\n");
    const auto empty = dir.write("empty.mkv", "");
    const std::string missing = (dir / "missing.mkv").string();
    const auto jpg = dir / "frame.jpg";
    const auto mp4 = dir / "clip.mp4";
    struct Case {
        std::string movie;
        std::string cause;
    };
    for (const Case& c : {Case{missing, "No such file or directory"}, Case{text.string(), "Invalid data"},
                          Case{empty.string(), "Invalid data"}}) {
        SCOPED_TRACE(c.movie);
        expect_one_error({c.movie, "--probe"}, {"error: ffprobe exited with exit code: 1:\n", c.cause});
        expect_one_error({c.movie, "--frame", "5", jpg.string()}, {c.cause}, jpg);
        expect_one_error({c.movie, "--clip", "1:00-1:10", mp4.string()}, {c.cause}, mp4);
    }
}

TEST(ProbeCli, UnreadableFileGivesOneClearError) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
    const MovieSpec spec = probe_movie_spec();
    const auto movie = test::test_movie(spec);
    ASSERT_TRUE(movie) << movie.error();
    test::TempDir dir;
    const auto copy = dir / "locked.mkv";
    std::filesystem::copy_file(*movie, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::none);
    expect_one_error({copy.string(), "--probe"}, {"Permission denied"});
    expect_one_error({copy.string(), "--frame", "5", (dir / "f.jpg").string()}, {"Permission denied"}, dir / "f.jpg");
}

}  // namespace
}  // namespace reel

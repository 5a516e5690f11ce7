// The run's own writer of the edited movie against mkvmerge given the same
// tracks: what a player and ffprobe read of the two files must not differ.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "pipeline/commands.h"
#include "pipeline/final_mux.h"
#include "pipeline/run_state.h"
#include "pipeline/stage_args.h"
#include "pipeline/video_cut.h"
#include "probe/matroska.h"
#include "support/temp_dir.h"
#include "test_pipeline_support.h"
#include "tools/run.h"
#include "util/files.h"

namespace reel {
namespace {

std::string probe(const std::vector<std::string>& what, const std::string& file) {
    std::vector<std::string> args{"-v", "error"};
    args.insert(args.end(), what.begin(), what.end());
    args.insert(args.end(), {"-of", "csv=p=0", file});
    return run_capture(e2e::tools().ffprobe, args).value_or("unreadable");
}

// Each stream's packets in file order: which of two streams' packets at one
// time comes first is no property of the movie.
std::map<std::string, std::vector<std::string>> by_stream(const std::string& listing) {
    std::map<std::string, std::vector<std::string>> streams;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) streams[line.substr(0, line.find(','))].push_back(line);
    return streams;
}

std::string subtitles_of(const std::string& file) {
    return run_capture(e2e::tools().ffmpeg, {"-v", "error", "-i", file, "-map", "0:s:0", "-f", "srt", "-"})
        .value_or("unreadable");
}

TEST(FinalMux, OwnFileReadsAsMkvmergesFromPiecesSoundSubtitlesAndChapters) {
    auto spec = e2e::small_movie(12);
    spec.audio = {{.codec = "aac", .language = "eng", .title = "Main", .is_default = true},
                  {.codec = "ac3", .channels = 6, .layout = "5.1", .language = "ger"}};
    spec.cover_art = true;
    spec.chapters = {{0, "Opening"}, {6, "Middle"}};
    spec.tags = {{"COMMENT", "kept along"}};
    const std::string source = e2e::movie(spec);
    test::TempDir dir;
    RunContext ctx;
    ctx.tools = e2e::tools();

    // The picture cut into two pieces (0-4 s and 6 s to the end) joined at 4 s.
    const std::vector<PieceRange> ranges{{0, 4}, {6, std::nullopt}};
    ASSERT_TRUE(run_mkvmerge(ctx, video_split_arguments(dir / "seg.mkv", ranges, {source, 0}), {}));
    std::vector<VideoPiece> pieces;
    double position = 0;
    for (const auto& part : split_part_paths(dir / "seg.mkv", 2)) {
        const auto extent = read_matroska_extent(path_text(part), 0);
        ASSERT_TRUE(extent) << extent.error();
        pieces.push_back({part, position + extent->firstVideo, extent->firstVideo, extent->end});
        position += extent->end;
    }
    ASSERT_TRUE(write_file(dir / "sub.srt", "1\n00:00:01,000 --> 00:00:02,500\nFirst line\nand its second\n\n"
                                            "2\n00:00:07,250 --> 00:00:08,000\n<i>Later</i>\n\n"));
    // Each sound track in a file of its own, as the run's carriers are.
    std::vector<std::string> sound;
    for (const char* track : {"1", "2"}) {
        sound.push_back(path_text(dir / (std::string("sound-") + track + ".mka")));
        ASSERT_TRUE(run_mkvmerge(ctx, {"-o", sound.back(), "--no-video", "--no-subtitles", "--no-attachments",
                                       "--audio-tracks", track, source},
                                 {}));
    }
    MuxInputs in;
    in.title = "Edited";
    in.source = source;
    in.tracks = {{{path_text(pieces[0].file), 0}, true, 0, "und", "Picture", false, false, 90.0},
                 {{sound[0], 0}, false, 1, "eng", "Main", true, false, std::nullopt},
                 {{sound[1], 0, 40}, false, 2, "ger", std::nullopt, false, true, std::nullopt}};
    in.videoPieces = pieces;
    in.subtitleArgs = {"--language", "0:fre", "--track-name", "0:Words", "--default-track-flag", "0:yes",
                       "--forced-display-flag", "0:no", path_text(dir / "sub.srt")};
    const std::vector<KeptChapter> chapters{{0, "Opening"}, {4.5, "Middle & end"}};
    ASSERT_TRUE(write_file(dir / "chapters.xml",
                           "<?xml version=\"1.0\"?><Chapters><EditionEntry>"
                           "<ChapterAtom><ChapterTimeStart>00:00:00.000</ChapterTimeStart><ChapterDisplay>"
                           "<ChapterString>Opening</ChapterString><ChapterLanguage>eng</ChapterLanguage>"
                           "</ChapterDisplay></ChapterAtom><ChapterAtom><ChapterTimeStart>00:00:04.500"
                           "</ChapterTimeStart><ChapterDisplay><ChapterString>Middle &amp; end</ChapterString>"
                           "<ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>"
                           "</EditionEntry></Chapters>"));
    in.chapterArgs = {"--chapters", path_text(dir / "chapters.xml")};
    const auto subtitles = subrip_tracks(in.subtitleArgs);
    ASSERT_TRUE(subtitles);
    ASSERT_TRUE(own_mux_fits(in, *subtitles, false));

    in.target = dir / "theirs.mkv";
    ASSERT_TRUE(run_mkvmerge(ctx, mux_arguments(in), {}));
    in.target = dir / "own.mkv";
    const auto own = write_final_matroska(ctx, in, *subtitles, chapters, {}, 10);
    ASSERT_TRUE(own) << own.error();

    const std::string mine = path_text(dir / "own.mkv");
    const std::string theirs = path_text(dir / "theirs.mkv");
    const std::vector<std::string> packets{"-show_entries", "packet=stream_index,pts_time,dts_time,flags,size"};
    EXPECT_EQ(by_stream(probe(packets, mine)), by_stream(probe(packets, theirs)));
    const std::vector<std::vector<std::string>> views{
        {"-show_entries",
         "stream=index,codec_name,width,height,sample_aspect_ratio,channels,sample_rate,disposition:stream_tags="
         "language,title,mimetype:stream_side_data=rotation"},
        {"-show_entries", "format=duration:format_tags=title,COMMENT"},
        {"-show_entries", "chapter=start_time,end_time:chapter_tags=title"},
    };
    for (const auto& view : views) {
        SCOPED_TRACE(view.back());
        EXPECT_EQ(probe(view, mine), probe(view, theirs));
    }
    EXPECT_EQ(subtitles_of(mine), subtitles_of(theirs));
    // A file of the run's own writer is cued at every keyframe, as mkvmerge's is.
    EXPECT_EQ(read_cue_keyframes(mine, 0), read_cue_keyframes(theirs, 0));

    // A cancelled run stops writing.
    ctx.cancelled = std::make_shared<std::atomic<bool>>(true);
    const auto cancelled = write_final_matroska(ctx, in, *subtitles, chapters, {}, 10);
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error(), "Cancelled");
}

}  // namespace
}  // namespace reel

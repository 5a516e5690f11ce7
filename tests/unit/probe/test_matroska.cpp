// The Matroska index reader on hand-built files: the cues of the picture only,
// in seconds by the file's own scale, and nothing from a broken or foreign file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>

#include "probe/matroska.h"
#include "probe/matroska_write.h"
#include "support/temp_dir.h"
#include "util/files.h"

namespace reel {
namespace {

std::string id_bytes(std::uint32_t id) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (id >> shift || !out.empty()) out.push_back(static_cast<char>((id >> shift) & 0xFF));
    return out;
}
std::string uint_bytes(std::uint64_t v) {
    std::string out;
    for (int shift = 56; shift >= 0; shift -= 8)
        if (v >> shift || !out.empty() || shift == 0) out.push_back(static_cast<char>((v >> shift) & 0xFF));
    return out;
}
// Sizes are written in eight bytes, as writers that fill them in later do.
std::string el(std::uint32_t id, const std::string& body) {
    std::string size{"\x01"};
    for (int shift = 48; shift >= 0; shift -= 8) size.push_back(static_cast<char>((body.size() >> shift) & 0xFF));
    return id_bytes(id) + size + body;
}
std::string cue(std::uint64_t time, std::uint64_t track) {
    return el(0xBB, el(0xB3, uint_bytes(time)) + el(0xB7, el(0xF7, uint_bytes(track)) + el(0xF1, uint_bytes(9))));
}

TEST(MatroskaCues, HeadAndCuesOfThePicture) {
    const std::string tracks = el(0x1654AE6B, el(0xAE, el(0xD7, uint_bytes(2)) + el(0x83, uint_bytes(2))) +
                                                  el(0xAE, el(0xD7, uint_bytes(1)) + el(0x83, uint_bytes(1))));
    const std::string info = el(0x1549A966, el(0x2AD7B1, uint_bytes(100000)) + el(0x4D80, "Lavf59.27.100"));
    const std::string cues = el(0x1C53BB6B, cue(20000, 1) + cue(5, 2) + cue(0, 1) + cue(20000, 1));
    // The seek head points past itself, the info and the tracks to the cues
    // (a position in two bytes, as the size of the seek head must not change).
    const auto seek_to = [](std::uint64_t at) {
        return el(0x114D9B74, el(0x4DBB, el(0x53AB, id_bytes(0x1C53BB6B)) +
                                             el(0x53AC, std::string{static_cast<char>(at >> 8), static_cast<char>(at & 0xFF)})));
    };
    const std::string seek = seek_to(seek_to(0).size() + info.size() + tracks.size());
    const std::string children = seek + info + tracks + cues;
    // An open ("unknown") segment size, as live recordings leave it.
    const std::string file = el(0x1A45DFA3, el(0x4282, "matroska")) + "\x18\x53\x80\x67\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF" + children;

    const auto head = parse_matroska_head(file);
    ASSERT_TRUE(head);
    ASSERT_EQ(head->tracks.size(), 2u);
    EXPECT_EQ(head->tracks[1].number, 1u);
    EXPECT_EQ(head->timestampScale, 100000u);
    EXPECT_TRUE(cues_list_every_keyframe(*head));
    ASSERT_TRUE(head->cues);
    const std::uint64_t at = head->segmentData + seek.size() + info.size() + tracks.size();
    EXPECT_EQ(*head->cues, at);

    const auto times = parse_cue_times(std::string_view(file).substr(at), 1, head->timestampScale);
    ASSERT_TRUE(times);
    EXPECT_EQ(*times, (std::vector<double>{0.0, 2.0}));

    EXPECT_FALSE(parse_cue_times(std::string_view(file).substr(at, cues.size() - 1), 1, 1000000));
    EXPECT_FALSE(parse_matroska_head("RIFF....AVI LIST"));
    MatroskaHead other;
    other.writingApp = "SomeRecorder 1.0";
    other.muxingApp = "libebml v1.4.2 + libmatroska v1.6.4";
    EXPECT_FALSE(cues_list_every_keyframe(other));
}

// Pictures shown before the keyframe carry negative times relative to the
// cluster; sound may come in block groups.
TEST(MatroskaCues, EarliestBlockOfEachTrackInTheFirstCluster) {
    const auto block = [](char track, std::int16_t relative) {
        return std::string{static_cast<char>(0x80 | track), static_cast<char>(relative >> 8),
                           static_cast<char>(relative & 0xFF), '\x80', 'x', 'y'};
    };
    const std::string cluster = el(0x1F43B675, el(0xE7, uint_bytes(100)) + el(0xA3, block(1, 0)) +
                                                   el(0xA3, block(1, -40)) + el(0xA0, el(0xA1, block(2, 5))));
    const auto starts = parse_cluster_starts(cluster, 1000000);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].number, 1u);
    EXPECT_DOUBLE_EQ(starts[0].earliest, 0.06);
    EXPECT_EQ(starts[0].blocks, 2u);
    EXPECT_DOUBLE_EQ(starts[1].earliest, 0.105);
    // Cut inside the second block: its header still counts, the rest is not read.
    EXPECT_EQ(parse_cluster_starts(std::string_view(cluster).substr(0, 50), 1000000).front().blocks, 2u);
}

// Sound stored several frames to a block (as mkvmerge does) has one time per
// block: the others follow at the track's frame length.
TEST(MatroskaCues, FrameTimesOfOneTrackWithFramesStoredTogether) {
    const auto block = [](char track, std::int16_t relative, std::string laces) {
        const char flags = laces.empty() ? '\x80' : '\x82';
        return std::string{static_cast<char>(0x80 | track), static_cast<char>(relative >> 8),
                           static_cast<char>(relative & 0xFF), flags} + laces + "xyz";
    };
    // Track 2: three frames at 100 ms, one at 160 ms; track 1 between them.
    const std::string cluster = el(0x1F43B675, el(0xE7, uint_bytes(100)) + el(0xA3, block(2, 0, "\x02")) +
                                                   el(0xA3, block(1, 0, "")) + el(0xA0, el(0xA1, block(2, 60, ""))));
    const auto near = [](std::optional<std::vector<double>> got, std::vector<double> want) {
        if (!got || got->size() != want.size()) return false;
        for (std::size_t k = 0; k < want.size(); ++k)
            if (std::abs((*got)[k] - want[k]) > 1e-9) return false;
        return true;
    };
    EXPECT_TRUE(near(parse_cluster_frame_times(cluster, 1000000, 2, 10, 0.02), {0.1, 0.12, 0.14, 0.16}));
    EXPECT_TRUE(near(parse_cluster_frame_times(cluster, 1000000, 2, 2, 0.02), {0.1, 0.12}));
    EXPECT_TRUE(near(parse_cluster_frame_times(cluster, 1000000, 1, 10, 0), {0.1}));
    // Frames stored together in a track without a frame length: not guessed.
    EXPECT_FALSE(parse_cluster_frame_times(cluster, 1000000, 2, 10, 0));
    // The read ends inside the first block's header: nothing of it is listed.
    EXPECT_EQ(parse_cluster_frame_times(std::string_view(cluster).substr(0, 35), 1000000, 2, 10, 0.02),
              std::vector<double>{});
}


TEST(MatroskaFrames, LacedBlocksComeApartIntoTheirFrames) {
    // Track 2, time 0, flags, then the lacing: frames "ab", a 300-byte one and "c".
    const std::string big(300, 'x');
    const std::string head{'\x82', 0, 0};
    const auto frames = [&](char flags, const std::string& lacing) {
        const std::string block = head + std::string(1, flags) + lacing;
        auto got = block_frames(block);
        return got ? std::vector<std::string>(got->begin(), got->end()) : std::vector<std::string>{"damaged"};
    };
    const std::vector<std::string> three{"ab", big, "c"};
    EXPECT_EQ(frames('\x80', "ab"), std::vector<std::string>{"ab"});
    // Xiph: sizes in runs of 255.
    EXPECT_EQ(frames('\x82', std::string{2, 2, '\xFF', 45} + "ab" + big + "c"), three);
    // EBML: the first size, then signed differences (+298, in two bytes).
    EXPECT_EQ(frames('\x86', std::string{2, '\x82', '\x61', '\x29'} + "ab" + big + "c"), three);
    // Fixed size: what is left shared evenly.
    EXPECT_EQ(frames('\x84', std::string{2} + "abcdef"), (std::vector<std::string>{"ab", "cd", "ef"}));
    EXPECT_EQ(frames('\x84', std::string{2} + "abcde"), std::vector<std::string>{"damaged"});
    EXPECT_EQ(frames('\x82', std::string{2, 90, 1} + "ab"), std::vector<std::string>{"damaged"});
}

TEST(MatroskaFrames, AWrittenTrackReadsBackWithItsEntryTagsAndTimes) {
    test::TempDir dir;
    const auto file = dir / "sound.mka";
    MatroskaTrack track;
    track.number = 3;
    // Number, type (sound), uid, codec, a default duration of 20 ms.
    track.entry = el(0xD7, uint_bytes(3)) + el(0x83, uint_bytes(2)) + el(0x73C5, uint_bytes(77)) + el(0x86, "A_AC3") +
                  el(0x23E383, uint_bytes(20000000));
    const auto tag_for = [](std::string targets) { return el(0x7373, el(0x63C0, targets) + el(0x67C8, el(0x45A3, "TITLE"))); };
    const std::string tag = tag_for(el(0x63C5, uint_bytes(77)));
    // Tags of another track and of the whole file are not the track's.
    // The duration is known at the end only.
    auto writer = MatroskaTrackWriter::open(file, track, tag + tag_for(el(0x63C5, uint_bytes(78))) + tag_for(""), 0.0);
    ASSERT_TRUE(writer.has_value()) << writer.error();
    // Across more than one cluster, and a time that is not a whole millisecond.
    const std::vector<std::pair<double, std::string>> written{{0.0, "a"}, {1.0204, "bb"}, {7.5, "ccc"}, {70.25, "d"}};
    for (const auto& [t, frame] : written) writer->add(t, frame);
    ASSERT_TRUE(writer->finish(70.2704).has_value());

    const auto head = read_matroska_head(path_text(file));
    ASSERT_TRUE(head.has_value()) << head.error();
    EXPECT_NEAR(head->duration.value_or(0), 70.2704, 1e-9);
    ASSERT_EQ(head->tracks.size(), 1u);
    EXPECT_EQ(head->tracks[0].entry, track.entry);
    EXPECT_EQ(read_matroska_track_tags(path_text(file), {0}), std::vector<std::string>{tag});
    std::vector<std::pair<double, std::string>> read;
    ASSERT_TRUE(read_matroska_sound_frames(path_text(file), {0}, [&](std::size_t k, double t, std::string_view frame) {
        EXPECT_EQ(k, 0u);
        read.emplace_back(t, std::string(frame));
        return true;
    }));
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_NEAR(read[i].first, std::round(written[i].first * 1000) / 1000, 1e-9);
        EXPECT_EQ(read[i].second, written[i].second);
    }

    // A frame in a BlockGroup is the Block alone, not the duration after it.
    const std::string block{'\x83', 0, 5, 0, 'x', 'y'};
    const auto grouped = dir / "grouped.mka";
    ASSERT_TRUE(write_file(grouped, el(0x1A45DFA3, el(0x4282, "matroska")) +
                                        el(0x18538067, el(0x1654AE6B, el(0xAE, track.entry)) +
                                                           el(0x1F43B675, el(0xE7, uint_bytes(1000)) +
                                                                              el(0xA0, el(0xA1, block) + el(0x9B, uint_bytes(20)))))));
    read.clear();
    ASSERT_TRUE(read_matroska_sound_frames(path_text(grouped), {0}, [&](std::size_t, double t, std::string_view frame) {
        read.emplace_back(t, std::string(frame));
        return true;
    }));
    EXPECT_EQ(read, (std::vector<std::pair<double, std::string>>{{1.005, "xy"}}));
}

TEST(MatroskaMux, TracksCuesAndTheMoviesExtrasReadBack) {
    test::TempDir dir;
    const auto file = dir / "edited.mkv";
    MatroskaTrack picture;
    picture.number = 1;
    picture.type = 1;
    picture.uid = 11;
    picture.defaultDuration = 40000000;
    picture.entry = el(0xD7, uint_bytes(1)) + el(0x83, uint_bytes(1)) + el(0x73C5, uint_bytes(11)) + el(0x86, "V_X");
    MatroskaTrack text;
    text.number = 2;
    text.type = 17;
    text.uid = 12;
    text.entry = el(0xD7, uint_bytes(2)) + el(0x83, uint_bytes(17)) + el(0x73C5, uint_bytes(12)) + el(0x86, "S_TEXT/UTF8");
    const auto tag_for = [](std::string targets) { return el(0x7373, el(0x63C0, targets) + el(0x67C8, el(0x45A3, "TITLE"))); };
    SegmentExtras extras;
    extras.title = "Edited";
    extras.chapters = el(0x45B9, el(0xB6, el(0x73C4, uint_bytes(5)) + el(0x91, uint_bytes(0))));
    extras.attachments = el(0x61A7, el(0x466E, "cover.jpg") + el(0x465C, "jpeg bytes"));
    // The movie's, the picture's, a chapter's and an attachment's.
    extras.tags = tag_for("") + tag_for(el(0x63C5, uint_bytes(11))) + tag_for(el(0x63C4, uint_bytes(5))) +
                  tag_for(el(0x63C6, uint_bytes(7)));
    extras.statistics = true;
    auto muxer = MatroskaMuxer::open(file, {picture, text}, extras, 0.0);
    ASSERT_TRUE(muxer) << muxer.error();
    // Pictures in decode order (one shown before the one decoded before it).
    const std::vector<std::tuple<std::int64_t, std::string, bool>> pictures{
        {0, "k0", true}, {80, "p2", false}, {40, "b1", false}, {2000, "k50", true}, {2040, "p51", false}};
    for (const auto& [ms, bytes, key] : pictures) muxer->add(0, ms, bytes, key);
    muxer->add(1, 500, "a line", true, 1800);
    EXPECT_NEAR(muxer->span().value_or(0), 2.3, 1e-9);  // the line's end
    ASSERT_TRUE(muxer->finish(muxer->span()));

    const auto head = read_matroska_head(path_text(file));
    ASSERT_TRUE(head) << head.error();
    EXPECT_NEAR(head->duration.value_or(0), 2.3, 1e-9);
    EXPECT_TRUE(cues_list_every_keyframe(*head));
    EXPECT_EQ(read_cue_keyframes(path_text(file), 0), (std::vector<double>{0.0, 2.0}));
    auto reader = MatroskaFrameReader::open(path_text(file), 0);
    ASSERT_TRUE(reader) << reader.error();
    for (const auto& [ms, bytes, key] : pictures) {
        const auto frame = reader->next();
        ASSERT_TRUE(frame && *frame);
        EXPECT_NEAR((*frame)->seconds, static_cast<double>(ms) / 1000, 1e-9);
        EXPECT_EQ((*frame)->bytes, bytes);
        EXPECT_EQ((*frame)->keyframe, key);
    }
    EXPECT_FALSE(reader->next().value().has_value());
    // A line stored with its duration is no frame to copy alone.
    auto lines = MatroskaFrameReader::open(path_text(file), 1);
    ASSERT_TRUE(lines);
    EXPECT_FALSE(lines->next().has_value());

    const auto read = read_matroska_extras(path_text(file));
    ASSERT_TRUE(read) << read.error();
    EXPECT_EQ(read->chapters, extras.chapters);
    EXPECT_EQ(read->attachments, extras.attachments);
    EXPECT_EQ(read->globalTags, tag_for(""));
    EXPECT_EQ(read->chapterTags, tag_for(el(0x63C4, uint_bytes(5))));
    EXPECT_EQ(read->attachmentTags, tag_for(el(0x63C6, uint_bytes(7))));
    const auto tags = read_matroska_track_tags(path_text(file), {0});
    ASSERT_TRUE(tags);
    EXPECT_NE(tags->front().find("NUMBER_OF_FRAMES"), std::string::npos);
    // Taken to another file, the track keeps its own tags but not its counts.
    EXPECT_EQ(retarget_track_tags(tags->front(), 99), tag_for(el(0x63C5, uint_bytes(99))));
}

TEST(MatroskaMux, AnEntryTakesItsPlaceAndPropertiesInTheNewFile) {
    // A 360° picture's projection type beside the roll.
    const std::string video = el(0xE0, el(0xB0, uint_bytes(640)) + el(0x7670, el(0x7671, uint_bytes(1)) + el(0x7675, "old")));
    const std::string entry = el(0xD7, uint_bytes(2)) + el(0x73C5, uint_bytes(7)) + el(0x86, "V_MPEG4/ISO/AVC") +
                              el(0x22B59C, "eng") + el(0x22B59D, "en") + el(0x536E, "Old name") + el(0x88, uint_bytes(1)) +
                              video;
    const auto changed = rewrite_track_entry(entry, {1, 42, "ger", std::nullopt, false, true, std::nullopt});
    const std::string common = el(0xD7, uint_bytes(1)) + el(0x73C5, uint_bytes(42)) + el(0x86, "V_MPEG4/ISO/AVC");
    const std::string flags = el(0x88, uint_bytes(0)) + el(0x55AA, uint_bytes(1)) + el(0x9C, uint_bytes(0));
    EXPECT_EQ(changed, common + el(0x536E, "Old name") + video + flags + el(0x22B59C, "ger"));
    // A name and a rotation replace the entry's own.
    const auto turned = rewrite_track_entry(entry, {1, 42, "und", "New", true, false, 90.0});
    const std::string roll = el(0x7670, el(0x7671, uint_bytes(1)) + el(0x7675, ebml_float(90.0)));
    EXPECT_EQ(turned, common + el(0x88, uint_bytes(1)) + el(0x55AA, uint_bytes(0)) + el(0x9C, uint_bytes(0)) +
                          el(0x22B59C, "und") + el(0x536E, "New") + el(0xE0, el(0xB0, uint_bytes(640)) + roll));
}

}  // namespace
}  // namespace reel

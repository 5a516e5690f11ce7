#include "support/media.h"

#include <atomic>
#include <cmath>
#include <system_error>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tools/process.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel::test {

namespace {

namespace fs = std::filesystem;

// Bump when the generated files change for an unchanged spec, so that stale
// caches are not reused.
constexpr std::string_view kGeneratorVersion = "media-v2";

std::string yes_no(bool flag) { return flag ? "yes" : "no"; }

std::string optional_text(const std::optional<std::string>& text) {
    // Quoted so that an absent value and the text "-" differ.
    return text ? fmt::format("\"{}\"", *text) : "-";
}

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

double frame_rate(const MovieSpec& spec) { return static_cast<double>(spec.fps_num) / spec.fps_den; }

// Runs a tool to its end; any exit code outside `accepted` is a failure that
// carries the tool's own error output.
Result<void> run_tool(const std::string& program, const std::vector<std::string>& args,
                      std::initializer_list<std::int64_t> accepted = {0}) {
    auto run = run_program(program, args);
    if (!run) return fail(run.error());
    for (std::int64_t code : accepted)
        if (run->exit_code == code) return {};
    return fail(fmt::format("{} {} failed (exit code {}):\n{}{}", program, fmt::join(args, " "), run->exit_code,
                            run->err, run->out));
}

// --- Text formats -------------------------------------------------------------

std::string srt_time(double seconds) {
    const auto ms = static_cast<std::int64_t>(std::llround(seconds * 1000));
    return fmt::format("{:02}:{:02}:{:02},{:03}", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

std::string ass_time(double seconds) {
    const auto cs = static_cast<std::int64_t>(std::llround(seconds * 100));
    return fmt::format("{}:{:02}:{:02}.{:02}", cs / 360000, cs / 6000 % 60, cs / 100 % 60, cs % 100);
}

std::string matroska_time(double seconds) {
    const auto ns = static_cast<std::int64_t>(std::llround(seconds * 1e9));
    return fmt::format("{:02}:{:02}:{:02}.{:09}", ns / 3600000000000, ns / 60000000000 % 60, ns / 1000000000 % 60,
                       ns % 1000000000);
}

std::string srt_document(const std::vector<SubtitleCue>& cues) {
    std::string text;
    for (std::size_t i = 0; i < cues.size(); ++i)
        text += fmt::format("{}\n{} --> {}\n{}\n\n", i + 1, srt_time(cues[i].start), srt_time(cues[i].end),
                            cues[i].text);
    return text;
}

std::string ass_document(const std::vector<SubtitleCue>& cues, const MovieSpec& spec) {
    std::string text = fmt::format(
        "[Script Info]\nScriptType: v4.00+\nPlayResX: {}\nPlayResY: {}\nWrapStyle: 0\n\n"
        "[V4+ Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
        "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, "
        "MarginL, MarginR, MarginV, Encoding\n"
        "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,0,2,10,10,"
        "10,1\n\n"
        "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n",
        spec.width, spec.height);
    for (const SubtitleCue& cue : cues)
        text += fmt::format("Dialogue: 0,{},{},Default,,0,0,0,,{}\n", ass_time(cue.start), ass_time(cue.end),
                            replace_all(cue.text, "\n", "\\N"));
    return text;
}

std::string xml_escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Escapes the characters that ffmpeg's metadata file format reserves.
std::string ffmetadata_escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '=' || c == ';' || c == '#' || c == '\\' || c == '\n') out += '\\';
        out += c;
    }
    return out;
}

double chapter_end(const MovieSpec& spec, std::size_t i) {
    if (spec.chapters[i].end) return *spec.chapters[i].end;
    return i + 1 < spec.chapters.size() ? spec.chapters[i + 1].start : spec.duration;
}

std::string chapters_xml(const MovieSpec& spec) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n"
        "<Chapters>\n  <EditionEntry>\n";
    for (std::size_t i = 0; i < spec.chapters.size(); ++i)
        xml += fmt::format(
            "    <ChapterAtom>\n      <ChapterTimeStart>{}</ChapterTimeStart>\n"
            "      <ChapterTimeEnd>{}</ChapterTimeEnd>\n"
            "      <ChapterDisplay>\n        <ChapterString>{}</ChapterString>\n"
            "        <ChapterLanguage>eng</ChapterLanguage>\n      </ChapterDisplay>\n    </ChapterAtom>\n",
            matroska_time(spec.chapters[i].start), matroska_time(chapter_end(spec, i)),
            xml_escape(spec.chapters[i].title));
    xml += "  </EditionEntry>\n</Chapters>\n";
    return xml;
}

std::string ffmetadata(const MovieSpec& spec) {
    std::string text = ";FFMETADATA1\n";
    if (spec.title) text += "title=" + ffmetadata_escape(*spec.title) + "\n";
    for (std::size_t i = 0; i < spec.chapters.size(); ++i)
        text += fmt::format("[CHAPTER]\nTIMEBASE=1/1000\nSTART={}\nEND={}\ntitle={}\n",
                            std::llround(spec.chapters[i].start * 1000), std::llround(chapter_end(spec, i) * 1000),
                            ffmetadata_escape(spec.chapters[i].title));
    return text;
}

// --- ffmpeg sources and encoders ---------------------------------------------

std::string video_source(const MovieSpec& spec) {
    const std::string size = fmt::format("{}x{}", spec.width, spec.height);
    const std::string rate = fmt::format("{}/{}", spec.fps_num, spec.fps_den);
    // The source runs one frame longer than needed; "-frames:v" cuts it exactly.
    const std::string duration = format_shortest(spec.duration + 2.0 / frame_rate(spec));
    // The quotes keep the commas of an expression away from the graph parser.
    std::string shape;
    if (!spec.sample_aspect.empty()) shape += fmt::format(",setsar={}", replace_all(spec.sample_aspect, ":", "/"));
    if (!spec.frame_select.empty()) shape += fmt::format(",select='{}'", spec.frame_select);
    if (spec.flashes.empty())
        return fmt::format("testsrc2=size={}:rate={}:duration={}{}", size, rate, duration, shape);
    std::string frames;
    for (double t : spec.flashes)
        frames += fmt::format("{}eq(n,{})", frames.empty() ? "" : "+", std::llround(t * frame_rate(spec)));
    return fmt::format("color=c=black:size={}:rate={}:duration={},drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:"
                       "enable='{}'{}",
                       size, rate, duration, frames, shape);
}

std::string audio_source(const MovieSpec& spec, const AudioTrackSpec& track) {
    std::string expression;
    if (spec.flashes.empty()) {
        expression = fmt::format("0.25*sin(2*PI*{}*t)", format_shortest(track.tone_hz));
    } else {
        std::string gates;
        for (double instant : flash_instants(spec))
            gates += fmt::format("{}between(t,{},{})", gates.empty() ? "" : "+", format_shortest(instant),
                                 format_shortest(instant + spec.beep_seconds));
        expression = fmt::format("0.5*sin(2*PI*1000*t)*({})", gates);
    }
    // One expression serves every channel of the layout.
    return fmt::format("aevalsrc=exprs='{}':channel_layout={}:sample_rate={}:duration={}", expression, track.layout,
                       track.sample_rate, format_shortest(spec.duration));
}

std::vector<std::string> video_encoder_args(const MovieSpec& spec) {
    const int n = spec.keyframe_interval;
    const std::string gop = std::to_string(n);
    std::vector<std::string> args;
    if (spec.video_codec == "h264") {
        args = {"-c:v", "libx264", "-preset", "veryfast", "-x264-params",
                fmt::format("keyint={0}:min-keyint={0}:scenecut=0:open-gop=0", n)};
    } else if (spec.video_codec == "hevc") {
        args = {"-c:v", "libx265", "-preset", "veryfast", "-x265-params",
                fmt::format("keyint={0}:min-keyint={0}:scenecut=0:open-gop=0:log-level=error", n)};
    } else if (spec.video_codec == "mpeg4") {
        args = {"-c:v", "mpeg4", "-q:v", "5", "-g", gop, "-sc_threshold", "1000000000"};
    } else if (spec.video_codec == "vp9" || spec.video_codec == "vp8") {
        args = {"-c:v", spec.video_codec == "vp9" ? "libvpx-vp9" : "libvpx", "-deadline", "realtime", "-cpu-used",
                "8", "-b:v", "1M", "-g", gop, "-keyint_min", gop};
    } else {
        args = {"-c:v", spec.video_codec, "-g", gop};
    }
    if (spec.frame_select.empty()) {
        args.insert(args.end(), {"-pix_fmt", spec.pix_fmt, "-frames:v", std::to_string(video_frame_count(spec))});
    } else {
        // Dropped frames leave their time empty: the frames keep their own times.
        args.insert(args.end(), {"-pix_fmt", spec.pix_fmt, "-fps_mode", "vfr", "-t", format_shortest(spec.duration)});
    }
    args.insert(args.end(), spec.extra_video_args.begin(), spec.extra_video_args.end());
    return args;
}

std::string audio_encoder(const std::string& codec) {
    if (codec == "opus") return "libopus";
    if (codec == "mp3") return "libmp3lame";
    if (codec == "vorbis") return "libvorbis";
    return codec;
}

bool is_mp4_family(const std::string& container) {
    return container == "mp4" || container == "mov" || container == "m4v";
}

// ffmpeg arguments that encode picture and sound into `output` (without
// subtitles); `extra` comes before the output name.
std::vector<std::string> encode_args(const MovieSpec& spec, const std::vector<std::string>& extra_inputs,
                                     const std::vector<std::string>& extra_outputs, const std::string& output) {
    std::vector<std::string> args{"-hide_banner", "-v", "error", "-y"};
    int input = 0;
    std::vector<std::string> video_maps, audio_maps;
    if (!spec.video_codec.empty()) {
        args.insert(args.end(), {"-f", "lavfi", "-i", video_source(spec)});
        for (int k = 0; k <= spec.extra_video_tracks; ++k)
            video_maps.insert(video_maps.end(), {"-map", fmt::format("{}:v", input)});
        ++input;
    }
    for (const AudioTrackSpec& track : spec.audio) {
        args.insert(args.end(), {"-f", "lavfi", "-i", audio_source(spec, track)});
        audio_maps.insert(audio_maps.end(), {"-map", fmt::format("{}:a", input++)});
    }
    std::vector<std::string> maps = spec.audio_first ? audio_maps : video_maps;
    const auto& rest = spec.audio_first ? video_maps : audio_maps;
    maps.insert(maps.end(), rest.begin(), rest.end());
    args.insert(args.end(), extra_inputs.begin(), extra_inputs.end());
    args.insert(args.end(), maps.begin(), maps.end());
    if (!spec.video_codec.empty()) {
        const auto video = video_encoder_args(spec);
        args.insert(args.end(), video.begin(), video.end());
    }
    for (std::size_t k = 0; k < spec.audio.size(); ++k) {
        const AudioTrackSpec& track = spec.audio[k];
        args.insert(args.end(), {fmt::format("-c:a:{}", k), audio_encoder(track.codec)});
        args.insert(args.end(), {fmt::format("-ac:a:{}", k), std::to_string(track.channels)});
        args.insert(args.end(), {fmt::format("-ar:a:{}", k), std::to_string(track.sample_rate)});
        if (track.codec == "vorbis" || track.codec == "opus")
            args.insert(args.end(), {fmt::format("-b:a:{}", k), "128k"});
    }
    for (const auto& [key, value] : spec.tags) args.insert(args.end(), {"-metadata", key + "=" + value});
    if (spec.creation_time) args.insert(args.end(), {"-metadata", "creation_time=" + *spec.creation_time});
    if (spec.start_offset != 0) args.insert(args.end(), {"-output_ts_offset", format_shortest(spec.start_offset)});
    args.insert(args.end(), extra_outputs.begin(), extra_outputs.end());
    args.push_back(output);
    return args;
}

std::vector<SubtitleCue> cues_or_standard(const std::vector<SubtitleCue>& cues, double duration) {
    return cues.empty() ? standard_cues(duration) : cues;
}

// mkvmerge options for one track of the next input file.
void track_options(std::vector<std::string>& args, int id, const std::optional<std::string>& language,
                   const std::optional<std::string>& title, bool is_default, bool forced) {
    if (language) args.insert(args.end(), {"--language", fmt::format("{}:{}", id, *language)});
    if (title) args.insert(args.end(), {"--track-name", fmt::format("{}:{}", id, *title)});
    args.insert(args.end(), {"--default-track-flag", fmt::format("{}:{}", id, yes_no(is_default))});
    args.insert(args.end(), {"--forced-display-flag", fmt::format("{}:{}", id, yes_no(forced))});
}

// Writes the movie's text subtitle track `i` into `work`; gives the file's path.
Result<fs::path> write_subtitle_file(const MovieSpec& spec, std::size_t i, const fs::path& work) {
    const SubtitleTrackSpec& track = spec.subtitles[i];
    const auto cues = cues_or_standard(track.cues, spec.duration);
    const bool srt = track.format == SubtitleFormat::Srt;
    const fs::path file = work / fmt::format("sub{}.{}", i, srt ? "srt" : "ass");
    if (auto ok = write_file(file, srt ? srt_document(cues) : ass_document(cues, spec)); !ok) return fail(ok.error());
    return file;
}

Result<void> make_matroska(const MovieSpec& spec, const ToolSet& tools, const fs::path& work, const fs::path& out) {
    if (spec.video_codec.empty() && spec.audio.empty())
        return fail("a movie needs video or audio before subtitles can be added");
    if (!tools.mkvmerge) return fail("mkvmerge is needed for Matroska test movies");
    const fs::path av = work / "av.mkv";
    if (auto ok = run_tool(tools.ffmpeg, encode_args(spec, {}, {}, path_text(av))); !ok) return ok;

    // Unlaced, every audio packet carries its own time: tests can compare
    // packet times to the millisecond.
    std::vector<std::string> args{"-q", "-o", path_text(out), "--disable-lacing"};
    if (spec.title) args.insert(args.end(), {"--title", *spec.title});
    if (!spec.chapters.empty()) {
        const fs::path xml = work / "chapters.xml";
        if (auto ok = write_file(xml, chapters_xml(spec)); !ok) return ok;
        args.insert(args.end(), {"--chapters", path_text(xml)});
    }
    int id = 0;
    const auto video_options = [&] {
        if (spec.video_codec.empty()) return;
        for (int k = 0; k <= spec.extra_video_tracks; ++k) track_options(args, id++, std::nullopt, std::nullopt, k == 0, false);
    };
    const auto audio_options = [&] {
        for (const AudioTrackSpec& track : spec.audio)
            track_options(args, id++, track.language, track.title, track.is_default, false);
    };
    if (spec.audio_first) {
        audio_options();
        video_options();
    } else {
        video_options();
        audio_options();
    }
    args.push_back(path_text(av));
    if (spec.cover_art) {
        const fs::path cover = work / "cover.jpg";
        if (auto ok = run_tool(tools.ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=160x160:duration=1",
                                              "-frames:v", "1", path_text(cover)});
            !ok)
            return ok;
        args.insert(args.end(), {"--attachment-mime-type", "image/jpeg", "--attachment-name", "cover.jpg",
                                 "--attach-file", path_text(cover)});
    }

    for (std::size_t i = 0; i < spec.subtitles.size(); ++i) {
        const auto file = write_subtitle_file(spec, i, work);
        if (!file) return fail(file.error());
        const SubtitleTrackSpec& track = spec.subtitles[i];
        args.insert(args.end(), {"--sub-charset", "0:UTF-8"});
        track_options(args, 0, track.language, track.title, track.is_default, track.forced);
        args.push_back(path_text(*file));
    }
    for (std::size_t i = 0; i < spec.image_subtitles.size(); ++i) {
        const PgsTrackSpec& track = spec.image_subtitles[i];
        const fs::path file = work / fmt::format("pgs{}.sup", i);
        if (auto ok = write_pgs_file(file, cues_or_standard(track.cues, spec.duration), spec.width, spec.height,
                                     track.moves);
            !ok)
            return ok;
        track_options(args, 0, track.language, track.title, track.is_default, track.forced);
        if (track.vobsub) {
            // Keep the stream's own times, and end each picture where the next set begins.
            const fs::path vob = work / fmt::format("vobsub{}.mkv", i);
            if (auto ok = run_tool(tools.ffmpeg, {"-v", "error", "-y", "-copyts", "-fix_sub_duration", "-i",
                                                  path_text(file), "-c:s", "dvdsub", path_text(vob)});
                !ok)
                return ok;
            args.push_back(path_text(vob));
        } else {
            args.push_back(path_text(file));
        }
    }
    // mkvmerge's exit code 1 means success with warnings.
    if (auto ok = run_tool(*tools.mkvmerge, args, {0, 1}); !ok || spec.writing_app.empty()) return ok;
    if (!tools.mkvpropedit) return fail("mkvpropedit is needed to name another writing application");
    return run_tool(*tools.mkvpropedit, {path_text(out), "--edit", "info", "--set", "writing-application=" + spec.writing_app});
}

Result<void> make_with_ffmpeg(const MovieSpec& spec, const ToolSet& tools, const fs::path& work,
                              const fs::path& out) {
    if (!spec.image_subtitles.empty()) return fail("PGS test tracks need the mkv container");
    if (!spec.subtitles.empty() && !is_mp4_family(spec.container))
        return fail("text subtitle test tracks need the mkv or mp4 container");

    std::vector<std::string> inputs, outputs;
    int input = (spec.video_codec.empty() ? 0 : 1) + static_cast<int>(spec.audio.size());
    for (std::size_t i = 0; i < spec.subtitles.size(); ++i) {
        const auto file = write_subtitle_file(spec, i, work);
        if (!file) return fail(file.error());
        inputs.insert(inputs.end(), {"-i", path_text(*file)});
        outputs.insert(outputs.end(), {"-map", fmt::format("{}:s", input++)});
    }
    if (!spec.chapters.empty() || spec.title) {
        const fs::path meta = work / "metadata.txt";
        if (auto ok = write_file(meta, ffmetadata(spec)); !ok) return ok;
        inputs.insert(inputs.end(), {"-f", "ffmetadata", "-i", path_text(meta)});
        outputs.insert(outputs.end(), {"-map_metadata", std::to_string(input), "-map_chapters", std::to_string(input)});
        ++input;
    }
    if (!spec.subtitles.empty()) outputs.insert(outputs.end(), {"-c:s", "mov_text"});
    // MP4 keeps keys such as DIRECTOR only when asked.
    if (is_mp4_family(spec.container)) outputs.insert(outputs.end(), {"-movflags", "use_metadata_tags"});
    for (std::size_t k = 0; k < spec.audio.size(); ++k) {
        if (spec.audio[k].title) outputs.insert(outputs.end(), {fmt::format("-metadata:s:a:{}", k), "handler_name=" + *spec.audio[k].title});
    }

    const auto stream_metadata = [&](char type, std::size_t k, const std::optional<std::string>& language,
                                     const std::optional<std::string>& title, bool is_default, bool forced) {
        if (language) outputs.insert(outputs.end(), {fmt::format("-metadata:s:{}:{}", type, k), "language=" + *language});
        if (title) outputs.insert(outputs.end(), {fmt::format("-metadata:s:{}:{}", type, k), "title=" + *title});
        std::string disposition = is_default ? "default" : "0";
        if (forced) disposition = is_default ? "default+forced" : "forced";
        outputs.insert(outputs.end(), {fmt::format("-disposition:{}:{}", type, k), disposition});
    };
    for (std::size_t k = 0; k < spec.audio.size(); ++k)
        stream_metadata('a', k, spec.audio[k].language, spec.audio[k].title, spec.audio[k].is_default, false);
    for (std::size_t k = 0; k < spec.subtitles.size(); ++k)
        stream_metadata('s', k, spec.subtitles[k].language, spec.subtitles[k].title, spec.subtitles[k].is_default,
                        spec.subtitles[k].forced);
    if (spec.rotation == 0) return run_tool(tools.ffmpeg, encode_args(spec, inputs, outputs, path_text(out)));
    // ffmpeg writes a rotation only when it copies, not while it encodes.
    const fs::path upright = work / ("upright." + spec.container);
    if (auto ok = run_tool(tools.ffmpeg, encode_args(spec, inputs, outputs, path_text(upright))); !ok) return ok;
    return run_tool(tools.ffmpeg, {"-v", "error", "-y", "-i", path_text(upright), "-map", "0", "-map_metadata", "0",
                                   "-c", "copy", "-metadata:s:v:0", fmt::format("rotate={}", spec.rotation),
                                   "-movflags", "use_metadata_tags", path_text(out)});
}

void append_u16(std::string& out, unsigned value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

void append_u32(std::string& out, std::uint32_t value) {
    append_u16(out, value >> 16);
    append_u16(out, value & 0xFFFF);
}

// One PGS segment: "PG", presentation and decoding time (90 kHz), type, size.
void append_segment(std::string& out, double seconds, unsigned char type, const std::string& payload) {
    out += "PG";
    append_u32(out, static_cast<std::uint32_t>(std::llround(seconds * 90000)));
    append_u32(out, 0);
    out += static_cast<char>(type);
    append_u16(out, static_cast<unsigned>(payload.size()));
    out += payload;
}

}  // namespace

// --- Public ------------------------------------------------------------------

std::int64_t video_frame_count(const MovieSpec& spec) {
    return static_cast<std::int64_t>(std::llround(spec.duration * frame_rate(spec)));
}

std::vector<double> flash_instants(const MovieSpec& spec) {
    std::vector<double> instants;
    for (double t : spec.flashes)
        instants.push_back(static_cast<double>(std::llround(t * frame_rate(spec))) * spec.fps_den / spec.fps_num);
    return instants;
}

std::vector<SubtitleCue> standard_cues(double duration) {
    std::vector<SubtitleCue> cues;
    for (int k = 0; 2.0 * k + 1.5 <= duration; ++k)
        cues.push_back({2.0 * k + 0.5, 2.0 * k + 1.5, fmt::format("Line {}", k + 1)});
    if (cues.empty()) cues.push_back({0, duration / 2, "Line 1"});
    return cues;
}

std::string spec_text(const MovieSpec& spec) {
    std::string text = fmt::format(
        "{}\nduration={}\nsize={}x{}\nfps={}/{}\nvideo={}\nkeyint={}\npix_fmt={}\nextra={}\ntitle={}\n"
        "container={}\nflashes={}\nbeep={}\n",
        kGeneratorVersion, format_shortest(spec.duration), spec.width, spec.height, spec.fps_num, spec.fps_den,
        spec.video_codec, spec.keyframe_interval, spec.pix_fmt, fmt::join(spec.extra_video_args, "|"),
        optional_text(spec.title), spec.container, fmt::join(spec.flashes, ","), format_shortest(spec.beep_seconds));
    for (const AudioTrackSpec& a : spec.audio)
        text += fmt::format("audio={},{},{},{},{},{},{},{}\n", a.codec, a.channels, a.layout, a.sample_rate,
                            optional_text(a.language), optional_text(a.title), a.is_default,
                            format_shortest(a.tone_hz));
    const auto cue_text = [](const std::vector<SubtitleCue>& cues) {
        std::string out;
        for (const SubtitleCue& c : cues)
            out += fmt::format("[{},{},\"{}\"]", format_shortest(c.start), format_shortest(c.end), c.text);
        return out;
    };
    for (const SubtitleTrackSpec& s : spec.subtitles)
        text += fmt::format("sub={},{},{},{},{},{}\n", s.format == SubtitleFormat::Srt ? "srt" : "ass",
                            optional_text(s.language), optional_text(s.title), s.is_default, s.forced,
                            cue_text(s.cues));
    for (const PgsTrackSpec& s : spec.image_subtitles) {
        text += fmt::format("pgs={},{},{},{},{}", optional_text(s.language), optional_text(s.title), s.is_default,
                            s.forced, cue_text(s.cues));
        // Appended only when used, so that the names of older movies stay.
        if (!s.moves.empty()) text += fmt::format(",moves={}", fmt::join(s.moves, ","));
        if (s.vobsub) text += ",vobsub";
        text += "\n";
    }
    for (const ChapterSpec& c : spec.chapters)
        text += fmt::format("chapter={},{},\"{}\"\n", format_shortest(c.start),
                            c.end ? format_shortest(*c.end) : "-", c.title);
    // Appended only when used, so that the names of older movies stay.
    if (!spec.frame_select.empty()) text += fmt::format("select={}\n", spec.frame_select);
    if (!spec.sample_aspect.empty()) text += fmt::format("sar={}\n", spec.sample_aspect);
    if (spec.audio_first) text += "audio_first\n";
    if (spec.extra_video_tracks) text += fmt::format("extra_video={}\n", spec.extra_video_tracks);
    if (spec.cover_art) text += "cover_art\n";
    if (spec.rotation) text += fmt::format("rotation={}\n", spec.rotation);
    if (spec.creation_time) text += fmt::format("created={}\n", *spec.creation_time);
    for (const auto& [key, value] : spec.tags) text += fmt::format("tag={}={}\n", key, value);
    if (spec.start_offset != 0) text += fmt::format("offset={}\n", format_shortest(spec.start_offset));
    if (!spec.writing_app.empty()) text += fmt::format("writer={}\n", spec.writing_app);
    return text;
}

fs::path media_cache_folder() {
    if (const auto configured = get_env("REELMENDER_TEST_MEDIA"); configured && !configured->empty())
        return fs::path(*configured);
    // The CLI lives in "<build>/cli/"; the cache sits beside it in the build tree.
    return fs::path(REELMENDER_CLI_PATH).parent_path().parent_path() / "test-media";
}

Result<ProgramRun> run_program(const std::string& program, const std::vector<std::string>& args) {
    auto child = start_child(program, args);
    if (!child) return fail(fmt::format("could not start {}: {}", program, child.error()));
    ProgramRun run;
    for (;;) {
        auto more = (*child)->pump([&](std::string_view b) { run.out.append(b); },
                                   [&](std::string_view b) { run.err.append(b); });
        if (!more) return fail(more.error());
        if (!*more) break;
    }
    auto status = (*child)->wait();
    if (!status) return fail(status.error());
    run.exit_code = status->signaled ? -1 : status->code;
    return run;
}

Result<ProgramRun> run_cli(const std::vector<std::string>& args) { return run_program(REELMENDER_CLI_PATH, args); }

nlohmann::json ffprobe_report(const fs::path& file) {
    auto tools = test_tools();
    EXPECT_TRUE(tools) << tools.error();
    if (!tools) return nlohmann::json::object();
    auto run = run_program(tools->ffprobe, {"-v", "error", "-print_format", "json", "-show_format", "-show_streams",
                                            "-show_chapters", path_text(file)});
    EXPECT_TRUE(run && run->exit_code == 0) << (run ? run->err : run.error());
    return nlohmann::json::parse(run ? run->out : "{}");
}

Result<ToolSet> test_tools() {
    static const Result<ToolSet> tools = locate_tools({});
    return tools;
}

Result<std::string> test_movie(const MovieSpec& spec) {
    const std::string text = spec_text(spec);
    const fs::path folder = media_cache_folder();
    const std::string stem = fmt::format("movie-{:016x}", fnv1a(text));
    const fs::path target = folder / (stem + "." + spec.container);
    std::error_code ec;
    if (fs::is_regular_file(target, ec)) return path_text(target);

    auto tools = test_tools();
    if (!tools) return fail(tools.error());
    fs::create_directories(folder, ec);
    if (ec) return fail(fmt::format("cannot create {}: {}", path_text(folder), ec.message()));

    // Private to this process: parallel test processes may build the same movie.
    static std::atomic<int> counter{0};
    const fs::path work = folder / fmt::format(".work-{}-{}-{}", stem, current_process_id(), counter++);
    fs::remove_all(work, ec);
    fs::create_directories(work, ec);
    if (ec) return fail(fmt::format("cannot create {}: {}", path_text(work), ec.message()));
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{work};

    const fs::path built = work / ("movie." + spec.container);
    auto made = spec.container == "mkv" ? make_matroska(spec, *tools, work, built)
                                        : make_with_ffmpeg(spec, *tools, work, built);
    if (!made) return fail(made.error());
    (void)write_file(folder / (stem + ".txt"), text);  // for whoever wonders what a file holds
    fs::rename(built, target, ec);
    // Another process may have won the race and put the same movie in place.
    if (ec && !fs::is_regular_file(target)) return fail(fmt::format("cannot store {}: {}", path_text(target), ec.message()));
    return path_text(target);
}

std::string pgs_bytes(const std::vector<SubtitleCue>& cues, int width, int height, const std::vector<double>& moves) {
    constexpr unsigned kBoxWidth = 120, kBoxHeight = 24, kMoveUp = 40;
    const unsigned x = width > static_cast<int>(kBoxWidth) ? (width - kBoxWidth) / 2 : 0;
    const unsigned y = height > static_cast<int>(kBoxHeight) ? height - kBoxHeight - height / 10 : 0;

    // Run-length coded lines: 0x00, 0b11LLLLLL LLLLLLLL, colour (a long run of
    // one colour), then 0x00 0x00 to end the line.
    std::string rle;
    for (unsigned row = 0; row < kBoxHeight; ++row) {
        rle += '\0';
        rle += static_cast<char>(0xC0 | (kBoxWidth >> 8));
        rle += static_cast<char>(kBoxWidth & 0xFF);
        rle += '\x01';
        rle += std::string(2, '\0');
    }

    std::string out;
    unsigned composition = 0;
    std::string window;  // WDS: one window around the box, or the whole picture when it moves
    window += '\x01';
    window += '\0';
    if (moves.empty()) {
        append_u16(window, x);
        append_u16(window, y);
        append_u16(window, kBoxWidth);
        append_u16(window, kBoxHeight);
    } else {
        append_u16(window, 0);
        append_u16(window, 0);
        append_u16(window, static_cast<unsigned>(width));
        append_u16(window, static_cast<unsigned>(height));
    }
    // PCS: state 0x80 epoch start or 0x00 normal; the box at (x, box_y) or no object.
    const auto pcs = [&](unsigned char state, std::optional<unsigned> box_y) {
        std::string p;
        append_u16(p, width);
        append_u16(p, height);
        p += '\x10';  // frame rate code
        append_u16(p, composition++);
        p += static_cast<char>(state);
        p += '\0';  // no palette-only update
        p += '\0';  // palette id
        p += box_y ? '\x01' : '\0';
        if (box_y) {
            append_u16(p, 0);  // object id
            p += '\0';         // window id
            p += '\0';         // not cropped
            append_u16(p, x);
            append_u16(p, *box_y);
        }
        return p;
    };

    for (const SubtitleCue& cue : cues) {
        // Show: PCS (epoch start, one object), WDS, PDS, ODS, END.
        std::string pds{'\0', '\0'};  // palette id, version
        pds += std::string{'\x01', '\xEB', '\x80', '\x80', '\xFF'};  // entry 1: white (Y, Cr, Cb), opaque

        std::string ods;
        append_u16(ods, 0);  // object id
        ods += '\0';         // version
        ods += '\xC0';       // first and last fragment
        const std::uint32_t length = static_cast<std::uint32_t>(rle.size() + 4);
        ods += static_cast<char>((length >> 16) & 0xFF);
        append_u16(ods, length & 0xFFFF);
        append_u16(ods, kBoxWidth);
        append_u16(ods, kBoxHeight);
        ods += rle;

        append_segment(out, cue.start, 0x16, pcs(0x80, y));
        append_segment(out, cue.start, 0x17, window);
        append_segment(out, cue.start, 0x14, pds);
        append_segment(out, cue.start, 0x15, ods);
        append_segment(out, cue.start, 0x80, "");

        // Move: a new composition of the same object, nothing defined.
        unsigned box_y = y;
        for (double t : moves) {
            if (!(cue.start < t && t < cue.end)) continue;
            box_y = box_y > kMoveUp ? box_y - kMoveUp : 0;
            append_segment(out, t, 0x16, pcs(0x00, box_y));
            append_segment(out, t, 0x17, window);
            append_segment(out, t, 0x80, "");
        }

        // Clear: PCS without objects, WDS, END.
        append_segment(out, cue.end, 0x16, pcs(0x00, std::nullopt));
        append_segment(out, cue.end, 0x17, window);
        append_segment(out, cue.end, 0x80, "");
    }
    return out;
}

Result<void> write_pgs_file(const fs::path& path, const std::vector<SubtitleCue>& cues, int width, int height,
                            const std::vector<double>& moves) {
    return write_file(path, pgs_bytes(cues, width, height, moves));
}

}  // namespace reel::test

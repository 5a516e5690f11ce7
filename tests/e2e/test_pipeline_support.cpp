#include "test_pipeline_support.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "pipeline/paths.h"
#include "pipeline/stage_args.h"
#include "support/temp_dir.h"
#include "tools/process.h"
#include "tools/run.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel::e2e {

ToolSet tools() {
    auto found = test::test_tools();
    EXPECT_TRUE(found.has_value()) << found.error();
    return found.value_or(ToolSet{});
}

std::string movie(const test::MovieSpec& spec) {
    auto path = test::test_movie(spec);
    EXPECT_TRUE(path.has_value()) << path.error();
    return path.value_or("");
}

test::MovieSpec small_movie(double duration) {
    test::MovieSpec spec;
    spec.duration = duration;
    spec.width = 320;
    spec.height = 180;
    spec.audio = {test::AudioTrackSpec{}};
    return spec;
}

bool inside(double t, double start, double end) { return t >= start - 0.0005 && t < end - 0.0005; }

Edit edit(const std::string& id, EditAction action, double start, double end, const std::string& text,
          double card_seconds, bool match) {
    Edit e;
    e.id = id;
    e.action = action;
    e.start = start;
    e.end = end;
    e.text = text;
    e.cardSeconds = card_seconds;
    e.match = match;
    return e;
}

PipelineRun run_edits(const std::string& movie, const std::filesystem::path& output, std::vector<Edit> edits,
                      const std::string& container, bool keep_temp, bool exact, const ToolSet& with) {
    PipelineRun run;
    PipelineOptions options;
    options.movie = movie;
    options.edits = std::move(edits);
    options.output = output;
    options.container = container_named(container).value();
    options.keepTemp = keep_temp;
    options.exact = exact;
    RunContext ctx;
    ctx.tools = with;
    ctx.sink.progress = [&](const ProgressEvent& e) { run.events.push_back(e); };
    ctx.sink.log = [&](const std::string& line) { run.log.push_back(line); };
    run.report = run_pipeline(ctx, options, run.warnings);
    return run;
}

std::vector<std::filesystem::path> work_folders(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().filename().string().starts_with(".reelmender-work-")) found.push_back(entry.path());
    }
    return found;
}

std::vector<std::string> processes_mentioning(const std::string& needle) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = test::slurp(entry.path() / "cmdline");
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        if (cmdline.find(needle) != std::string::npos) found.push_back(name + ": " + cmdline);
    }
    return found;
}

std::filesystem::path own_work_folder(const std::filesystem::path& output) {
    // The name ends in a random suffix; the process id picks ours.
    const std::string mine = fmt::format(".reelmender-work-{}-", current_process_id());
    for (const auto& folder : work_folders(output_folder(output)))
        if (folder.filename().string().starts_with(mine)) return folder;
    ADD_FAILURE() << "no work folder of this process next to " << output;
    return {};
}

namespace {

std::string capture(const std::string& program, const std::vector<std::string>& args) {
    auto out = run_capture(program, args);
    EXPECT_TRUE(out.has_value()) << out.error();
    return out.value_or("");
}

// Standard error of an ffmpeg run that prints its findings there.
std::string ffmpeg_report(const std::vector<std::string>& args) {
    auto run = test::run_program(tools().ffmpeg, args);
    EXPECT_TRUE(run.has_value()) << run.error();
    if (!run) return "";
    EXPECT_EQ(run->exit_code, 0) << run->err;
    return run->err;
}

std::vector<double> numbers_after(const std::string& text, const std::string& key) {
    std::vector<double> values;
    std::size_t pos = 0;
    while ((pos = text.find(key, pos)) != std::string::npos) {
        pos += key.size();
        values.push_back(std::strtod(text.c_str() + pos, nullptr));
    }
    return values;
}

}  // namespace

std::vector<FrameHash> frame_hashes(const std::string& file, const std::string& map, bool copy) {
    std::vector<std::string> args{"-v", "error", "-copyts", "-i", file, "-map", map};
    if (copy) args.insert(args.end(), {"-c", "copy"});
    else args.insert(args.end(), {"-fps_mode", "passthrough"});
    args.insert(args.end(), {"-f", "framemd5", "-"});
    const std::string out = capture(tools().ffmpeg, args);

    std::vector<FrameHash> frames;
    double tb = 0.001;
    for (const auto& line : split(out, '\n')) {
        if (line.starts_with("#tb 0: ")) {
            const auto parts = split(line.substr(7), '/');
            if (parts.size() == 2) tb = std::strtod(parts[0].c_str(), nullptr) / std::strtod(parts[1].c_str(), nullptr);
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        const auto fields = split(line, ',');
        if (fields.size() < 6) continue;
        frames.push_back({std::strtod(fields[2].c_str(), nullptr) * tb, std::string(trim(fields[5]))});
    }
    return frames;
}

std::vector<std::string> hashes_only(const std::vector<FrameHash>& frames) {
    std::vector<std::string> out;
    for (const auto& f : frames) out.push_back(f.md5);
    return out;
}

double max_volume(const std::string& file, int audio_index, double start, double end) {
    const auto err = ffmpeg_report({"-hide_banner", "-nostats", "-i", file, "-map", fmt::format("0:a:{}", audio_index),
                                    "-af", fmt::format("atrim=start={}:end={},volumedetect", start, end), "-f", "null",
                                    "-"});
    const auto values = numbers_after(err, "max_volume: ");
    return values.empty() ? std::numeric_limits<double>::quiet_NaN() : values.back();
}

std::vector<std::pair<double, double>> silences(const std::string& file, int audio) {
    const auto err = ffmpeg_report({"-hide_banner", "-nostats", "-i", file, "-map", fmt::format("0:a:{}", audio),
                                    "-af", "silencedetect=n=-50dB:d=0.05", "-f", "null", "-"});
    std::vector<std::pair<double, double>> found;
    std::size_t pos = 0;
    while ((pos = err.find("silence_start: ", pos)) != std::string::npos) {
        const double start = std::strtod(err.c_str() + pos + 15, nullptr);
        const auto end = err.find("silence_end: ", pos);
        if (end == std::string::npos) break;
        found.emplace_back(start, std::strtod(err.c_str() + end + 13, nullptr));
        pos = end;
    }
    return found;
}

std::vector<double> sound_onsets(const std::string& file, int audio) {
    const auto err = ffmpeg_report({"-hide_banner", "-nostats", "-copyts", "-i", file, "-map",
                                    fmt::format("0:a:{}", audio), "-af",
                                    "silencedetect=n=-30dB:d=0.1", "-f", "null", "-"});
    // silencedetect also reports the end of the file as an end of silence; a
    // real sound is followed by the next silence_start.
    std::vector<double> onsets;
    // NaN while no silence has ended (an optional here draws a false
    // "may be used uninitialized" from GCC 12).
    double pending = std::numeric_limits<double>::quiet_NaN();
    for (const auto& line : split(err, '\n')) {
        if (auto pos = line.find("silence_end: "); pos != std::string::npos) {
            pending = std::strtod(line.c_str() + pos + 13, nullptr);
        } else if (line.find("silence_start: ") != std::string::npos && !std::isnan(pending)) {
            onsets.push_back(pending);
            pending = std::numeric_limits<double>::quiet_NaN();
        }
    }
    return onsets;
}

std::vector<double> video_frame_times(const std::string& file) {
    const auto out = capture(tools().ffprobe, {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                               "packet=pts_time", "-of", "csv=p=0", file});
    std::vector<double> times;
    for (const auto& line : split(out, '\n')) {
        const std::string text(trim(line));
        if (!text.empty()) times.push_back(std::strtod(text.c_str(), nullptr));
    }
    std::sort(times.begin(), times.end());
    return times;
}

std::vector<std::int64_t> bright_frames(const std::string& file) {
    auto bytes = run_capture_bytes(tools().ffmpeg, {"-v", "error", "-i", file, "-map", "0:v:0", "-fps_mode",
                                                    "passthrough", "-vf", "scale=16:16,format=gray", "-f", "rawvideo",
                                                    "-"});
    EXPECT_TRUE(bytes.has_value()) << bytes.error();
    std::vector<std::int64_t> frames;
    const std::string data = bytes.value_or("");
    for (std::size_t n = 0; (n + 1) * 256 <= data.size(); ++n) {
        if (mean_value(data.substr(n * 256, 256)) > 128) frames.push_back(static_cast<std::int64_t>(n));
    }
    return frames;
}

std::vector<SyncSample> sync_samples(const std::string& file, int audio) {
    const auto times = video_frame_times(file);
    const auto onsets = sound_onsets(file, audio);
    std::vector<SyncSample> samples;
    for (const std::int64_t n : bright_frames(file)) {
        if (n >= static_cast<std::int64_t>(times.size())) break;
        SyncSample sample{times[static_cast<std::size_t>(n)], std::nullopt};
        for (const double onset : onsets) {
            const double offset = onset - sample.flash;
            if (std::abs(offset) < 0.5 && (!sample.offset || std::abs(offset) < std::abs(*sample.offset)))
                sample.offset = offset;
        }
        samples.push_back(sample);
    }
    return samples;
}

double longest_picture_gap(const std::string& file) {
    const auto times = video_frame_times(file);
    double longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i) longest = std::max(longest, times[i] - times[i - 1]);
    return longest;
}

double frame_seconds(const std::string& codec) {
    if (codec == "ac3" || codec == "eac3") return 1536.0 / 48000;
    if (codec == "mp3") return 1152.0 / 48000;
    if (codec == "flac") return 4608.0 / 48000;
    if (codec == "opus") return 0.02;
    return 1024.0 / 48000;
}

double longest_frame(const std::vector<test::AudioTrackSpec>& audio) {
    double longest = 0;
    for (const auto& track : audio) longest = std::max(longest, frame_seconds(track.codec));
    return longest;
}

double decoder_delay(const std::string& codec) { return codec == "mp3" ? 529.0 / 48000 : 0.0; }

void expect_sound_with_picture(const std::string& file, const std::string& source,
                               const std::vector<test::AudioTrackSpec>& audio,
                               const std::vector<std::pair<double, double>>& silent) {
    for (std::size_t k = 0; k < audio.size(); ++k) {
        SCOPED_TRACE(audio[k].codec);
        const double frame = frame_seconds(audio[k].codec);
        // The source's own offset (a codec's or a container's delay) is where
        // the beeps belong.
        std::vector<double> own;
        for (const auto& sample : sync_samples(source, static_cast<int>(k)))
            if (sample.offset && sample.flash > 0.3) own.push_back(*sample.offset);
        ASSERT_FALSE(own.empty());
        std::nth_element(own.begin(), own.begin() + static_cast<std::ptrdiff_t>(own.size() / 2), own.end());
        const double reference = own[own.size() / 2];
        const auto samples = sync_samples(file, static_cast<int>(k));
        ASSERT_GT(samples.size(), 5u);
        const double last = video_frame_times(file).back();
        for (const auto& sample : samples) {
            // Sound that starts with the file has no silence before it to end,
            // and the last one's end is no silence either.
            if (sample.flash < 0.3 || sample.flash > last - 1.0) continue;
            const bool muted = std::any_of(silent.begin(), silent.end(), [&](const auto& range) {
                return sample.flash > range.first - frame && sample.flash < range.second + frame;
            });
            if (muted) continue;
            ASSERT_TRUE(sample.offset.has_value()) << "no beep with the flash at " << sample.flash;
            // An MP3 frame may borrow bits from the one before it (the bit
            // reservoir): the first frame after a cut can play as silence.
            const double reach = audio[k].codec == "mp3" ? 2 * frame : frame;
            EXPECT_LE(std::abs(*sample.offset - reference), reach) << "flash at " << sample.flash;
        }
    }
    EXPECT_LE(longest_picture_gap(file), std::max(longest_picture_gap(source), 1.0 / 25) + 0.5 / 25);
}

std::string grey_frame_at(const std::string& file, double time) {
    auto bytes = run_capture_bytes(tools().ffmpeg, {"-v", "error", "-ss", fmt::format("{:.3f}", time), "-i", file,
                                                    "-map", "0:v:0", "-frames:v", "1", "-vf", "format=gray", "-f",
                                                    "rawvideo", "-"});
    EXPECT_TRUE(bytes.has_value()) << bytes.error();
    return bytes.value_or("");
}

double mean_value(const std::string& grey) {
    if (grey.empty()) return 0;
    double sum = 0;
    for (unsigned char c : grey) sum += c;
    return sum / static_cast<double>(grey.size());
}

int max_value(const std::string& grey) {
    int top = 0;
    for (unsigned char c : grey) top = std::max<int>(top, c);
    return top;
}

std::string decode_errors(const std::string& file) {
    auto run = test::run_program(tools().ffmpeg, {"-v", "error", "-i", file, "-map", "0:v", "-map", "0:a?",
                                                  "-enc_time_base", "-1", "-f", "null", "-"});
    EXPECT_TRUE(run.has_value()) << run.error();
    if (!run) return "could not run ffmpeg";
    return run->exit_code == 0 ? run->err : fmt::format("exit {}: {}", run->exit_code, run->err);
}

std::int64_t packet_count(const std::string& file, const std::string& stream) {
    const auto out = capture(tools().ffprobe, {"-v", "error", "-select_streams", stream, "-count_packets",
                                               "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", file});
    std::string text(trim(out));
    while (text.ends_with(",")) text.pop_back();
    return parse_int64(text).value_or(-1);
}

}  // namespace reel::e2e

#include "cards/card.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "encode/encoder.h"
#include "encode/silence.h"
#include "tools/run.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// Far more characters than any picture can show; keeps the conversion defined.
constexpr double max_line_chars = 1e9;

std::string join_lines(const std::vector<std::string>& lines) { return fmt::format("{}", fmt::join(lines, "\n")); }

std::string encode(const std::vector<char32_t>& code_points) {
    std::string out;
    for (char32_t cp : code_points) append_utf8(out, cp);
    return out;
}

// Lays out one piece (no line breaks inside) greedily; counts Unicode scalar values.
void wrap_piece(const std::vector<char32_t>& piece, std::size_t line_chars, std::vector<std::string>& lines) {
    std::vector<char32_t> current;
    bool has_word = false;
    std::size_t i = 0;
    while (i < piece.size()) {
        while (i < piece.size() && is_unicode_space(piece[i])) ++i;
        if (i == piece.size()) break;
        const std::size_t begin = i;
        while (i < piece.size() && !is_unicode_space(piece[i])) ++i;
        const std::size_t word = i - begin;
        if (!has_word) {
            current.assign(piece.begin() + static_cast<std::ptrdiff_t>(begin), piece.begin() + static_cast<std::ptrdiff_t>(i));
            has_word = true;
        } else if (current.size() + 1 + word <= line_chars) {
            current.push_back(U' ');
            current.insert(current.end(), piece.begin() + static_cast<std::ptrdiff_t>(begin),
                           piece.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            lines.push_back(encode(current));
            current.assign(piece.begin() + static_cast<std::ptrdiff_t>(begin), piece.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    // A piece of white space only has no word and still yields its (empty) line.
    lines.push_back(encode(current));
}

std::string drawtext_head(const std::string& font_path, const std::string& text_file) {
    // expansion=none: the text is drawn as written, so "100%" or "%{pts}" in a
    // card never reaches drawtext's expansion and cannot break the render.
    return fmt::format("drawtext=fontfile={}:textfile={}:expansion=none", escape_filter_path(font_path),
                       escape_filter_path(text_file));
}

}  // namespace

std::vector<std::string> default_font_files() {
    return {
        "C:/Windows/Fonts/arial.ttf",
        "C:/Windows/Fonts/segoeui.ttf",
        "C:/Windows/Fonts/calibri.ttf",
        "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
        "/usr/share/fonts/TTF/DejaVuSans.ttf",
        "/usr/share/fonts/dejavu/DejaVuSans.ttf",
        "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
        "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf",
        "/usr/share/fonts/truetype/freefont/FreeSans.ttf",
        "/System/Library/Fonts/Supplemental/Arial.ttf",
        "/Library/Fonts/Arial.ttf",
    };
}

Result<std::string> choose_font(const std::string& configured, const std::function<bool(const std::string&)>& exists) {
    const std::string_view trimmed = trim(configured);
    if (!trimmed.empty()) return std::string(trimmed);
    for (const auto& candidate : default_font_files()) {
        if (exists(candidate)) return candidate;
    }
    return fail("No font found for the title card. Set a font file in Settings.");
}

std::vector<std::string> wrap_card_text(const std::string& text, std::size_t line_chars) {
    const std::string unified = replace_all(text, "\r\n", "\n");
    std::vector<std::string> lines;
    for (const auto& piece : split(unified, '\n')) wrap_piece(utf8_code_points(piece), line_chars, lines);
    if (lines.empty()) lines.emplace_back();
    return lines;
}

std::string escape_filter_path(const std::string& path) {
    std::string escaped = replace_all(path, "\\", "/");
    escaped = replace_all(escaped, ":", "\\:");
    // The value is quoted for the filter-graph level, where a quote cannot be
    // escaped inside quotes: close the quote, give the option level an escaped
    // apostrophe (backslash, backslash, backslash, apostrophe), reopen.
    escaped = replace_all(escaped, "'", "'\\\\\\''");
    return fmt::format("'{}'", escaped);
}

std::string fade_expression(double fade, double seconds) {
    if (!(fade > 0)) return "1";
    return fmt::format("if(lt(t\\,{0}),t/{0},if(gt(t\\,{1}-{0}),({1}-t)/{0},1))", format_shortest(fade),
                       format_shortest(seconds));
}

std::int64_t card_frames(const CardSpec& spec) { return std::max<std::int64_t>(1, spec.frames); }

std::string card_text_file_name(std::int64_t frames) { return fmt::format("card-{}.txt", frames); }

std::string card_line_file_name(std::int64_t frames, std::size_t line) {
    return fmt::format("card-{}-{}.txt", frames, line);
}

namespace {

// "num:den" of a usable sample aspect ratio; absent for square pixels and for
// anything unreadable (ffprobe writes 0:1 when it cannot tell).
std::optional<std::pair<std::int64_t, std::int64_t>> sample_aspect(const std::optional<std::string>& sar) {
    if (!sar) return std::nullopt;
    const auto colon = sar->find(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto num = parse_int64(std::string_view(*sar).substr(0, colon));
    const auto den = parse_int64(std::string_view(*sar).substr(colon + 1));
    if (!num || !den || *num <= 0 || *den <= 0 || *num == *den) return std::nullopt;
    // Ratios beyond any real picture would only make an absurd canvas.
    if (*num > 16 * *den || *den > 16 * *num) return std::nullopt;
    return std::pair{*num, *den};
}

}  // namespace

CardLayout card_layout(const CardSpec& spec) {
    const VideoStreamInfo& video = spec.video;
    const CardStyle& style = spec.style;
    CardLayout layout;
    layout.width = video.width;
    layout.height = video.height;
    layout.shownWidth = video.width;
    if (const auto aspect = sample_aspect(video.sar)) {
        const double shown = static_cast<double>(video.width) * static_cast<double>(aspect->first) /
                             static_cast<double>(aspect->second);
        layout.shownWidth = std::max<std::int64_t>(2, round_half_away(shown / 2) * 2);
        layout.sar = fmt::format("{}/{}", aspect->first, aspect->second);
    }
    layout.fps = static_cast<double>(video.fpsNum) / static_cast<double>(video.fpsDen);
    layout.seconds = static_cast<double>(card_frames(spec)) / layout.fps;
    layout.fontSize = std::max<std::int64_t>(12, round_half_away(static_cast<double>(video.height) * style.fontScale));
    const double chars =
        std::floor(static_cast<double>(layout.shownWidth) * 0.8 / (static_cast<double>(layout.fontSize) * 0.52));
    // NaN and everything below the minimum give the minimum.
    layout.lineChars = chars >= 10 ? static_cast<std::size_t>(std::min(chars, max_line_chars)) : 10;
    layout.lineSpacing = layout.fontSize / 4;
    const double fade_seconds = style.fadeSeconds > 0 ? style.fadeSeconds : 0.0;
    layout.fade = std::min(layout.seconds * 0.5, fade_seconds);
    layout.pix = video.pixFmt.value_or("yuv420p");
    layout.rate = video.fpsDen == 1 ? fmt::format("{}", video.fpsNum) : fmt::format("{}/{}", video.fpsNum, video.fpsDen);
    return layout;
}

std::string card_filter(const CardLayout& layout, const CardStyle& style, const std::string& font_path,
                        const std::vector<std::string>& text_files, DrawtextForm form) {
    const std::string alpha = fade_expression(layout.fade, layout.seconds);
    const std::string squeeze =
        layout.shownWidth == layout.width ? std::string() : fmt::format("scale={}:{},", layout.width, layout.height);
    const std::string tail = fmt::format("{}setsar={},format={}", squeeze, layout.sar, layout.pix);
    if (form == DrawtextForm::TextAlign) {
        const std::string file = text_files.empty() ? std::string() : text_files.front();
        return fmt::format(
            "{}:text_align=M+C:fontcolor={}:fontsize={}:line_spacing={}:x=(w-text_w)/2:y=(h-text_h)/2:alpha='{}',{}",
            drawtext_head(font_path, file), style.textColor, layout.fontSize, layout.lineSpacing, alpha, tail);
    }
    // Without text_align, each line is centred on its own; the block of N lines
    // is centred as a whole, line k sitting k line heights plus spacings down.
    const std::size_t count = text_files.size();
    std::vector<std::string> filters;
    for (std::size_t k = 0; k < count; ++k) {
        if (text_files[k].empty()) continue;
        filters.push_back(fmt::format(
            "{}:fontcolor={}:fontsize={}:x=(w-text_w)/2:y=(h-({}*lh+{}*{}))/2+{}*(lh+{}):alpha='{}'",
            drawtext_head(font_path, text_files[k]), style.textColor, layout.fontSize, count, count - 1,
            layout.lineSpacing, k, layout.lineSpacing, alpha));
    }
    filters.push_back(tail);
    return fmt::format("{}", fmt::join(filters, ","));
}

Result<std::vector<std::string>> card_command(const CardSpec& spec, const std::string& font_path,
                                              const std::vector<std::string>& text_files, DrawtextForm form) {
    const CardLayout layout = card_layout(spec);
    auto video = match_encoder(spec.video, spec.style.preset, Pictures::Still);
    if (!video) return fail(video.error());
    auto args = ffmpeg_prefix(FfmpegRun::Progress);
    args.insert(args.end(), {"-f", "lavfi", "-i"});
    args.push_back(fmt::format("color=c={}:s={}x{}:r={}", spec.style.backgroundColor, layout.shownWidth,
                               spec.video.height, layout.rate));
    auto silence = silent_tracks(spec.audio, 1);
    if (!silence) return fail(silence.error());
    args.insert(args.end(), silence->inputs.begin(), silence->inputs.end());
    args.emplace_back("-map");
    args.emplace_back("0:v");
    args.insert(args.end(), silence->maps.begin(), silence->maps.end());
    // "-frames:v" closes the whole output once the last picture leaves the
    // encoder, which (with the encoder's lookahead) cuts a title card's silent
    // tracks short by a second or more and leaves a hole in the joined sound. A
    // card with sound therefore ends its pictures in the filter graph and lets
    // "-t" end the file; both give the same frames, since "-t" is the exact length.
    std::string filter = card_filter(layout, spec.style, font_path, text_files, form);
    if (spec.audio.empty()) {
        args.emplace_back("-frames:v");
        args.push_back(fmt::format("{}", card_frames(spec)));
    } else {
        filter = fmt::format("trim=end_frame={},{}", card_frames(spec), filter);
    }
    args.emplace_back("-t");
    args.push_back(fmt::format("{:.6f}", layout.seconds));
    args.emplace_back("-vf");
    args.push_back(filter);

    args.insert(args.end(), video->begin(), video->end());
    args.insert(args.end(), silence->encoders.begin(), silence->encoders.end());
    args.push_back(path_text(spec.output));
    return args;
}

std::optional<CardRepeat> card_repeat(const CardSpec& spec) {
    if (spec.video.codec != "h264" || !spec.audio.empty()) return std::nullopt;
    const CardLayout layout = card_layout(spec);
    const std::int64_t frames = card_frames(spec);
    // As the fade expression draws them: picture i at i / fps is faded in
    // while earlier than the fade's end, and out once later than the
    // fade-out's start.
    constexpr double kSlack = 1e-9;
    const auto fading_in = static_cast<std::int64_t>(std::ceil(layout.fade * layout.fps - kSlack));
    const auto first_faded_out = static_cast<std::int64_t>(std::floor((layout.seconds - layout.fade) * layout.fps + kSlack)) + 1;
    CardRepeat repeat;
    repeat.head = std::max<std::int64_t>(fading_in, 1);
    repeat.group = keyframe_interval(spec.video);
    const std::int64_t still = std::min(first_faded_out, frames) - repeat.head;
    repeat.repeats = still > 0 ? still / repeat.group : 0;
    if (repeat.repeats < 2) return std::nullopt;
    repeat.tail = frames - repeat.head - repeat.repeats * repeat.group;
    return repeat;
}

std::vector<std::string> card_parts_arguments(const CardSpec& spec, std::vector<std::string> card,
                                              const CardRepeat& repeat, const std::string& pattern) {
    const CardLayout layout = card_layout(spec);
    const std::int64_t group_end = repeat.head + repeat.group;
    const std::int64_t tail_start = card_frames(spec) - repeat.tail;
    const std::int64_t encoded = repeat.head + repeat.group + repeat.tail;
    const auto value = [&card](std::string_view option) -> std::string* {
        const auto at = std::ranges::find(card, option);
        return at == card.end() || at + 1 == card.end() ? nullptr : &*(at + 1);
    };
    if (auto* frames = value("-frames:v")) *frames = fmt::format("{}", encoded);
    if (auto* seconds = value("-t")) *seconds = fmt::format("{:.6f}", static_cast<double>(encoded) / layout.fps);
    // The pictures are chosen before they are drawn, which keeps each one's
    // time and so its fade, and then follow each other.
    if (auto* filter = value("-vf")) {
        *filter = fmt::format("select='lt(n\\,{})+between(n\\,{}\\,{})+gte(n\\,{})',{},setpts=N/FRAME_RATE/TB",
                              repeat.head, repeat.head, group_end - 1, tail_start, *filter);
    }
    card.pop_back();
    const std::vector<std::int64_t> starts{repeat.head, repeat.head + repeat.group};
    if (const auto keyframes = forced_keyframe_options(spec.video.codec, starts))
        card.insert(card.end(), keyframes->begin(), keyframes->end());
    card.insert(card.end(), {"-f", "segment", "-segment_format", "matroska", "-reset_timestamps", "1",
                             "-segment_frames", fmt::format("{}", fmt::join(starts, ",")), pattern});
    return card;
}

Result<std::vector<std::string>> card_args(const CardSpec& spec, DrawtextForm form,
                                           const std::function<bool(const std::string&)>& font_exists) {
    auto font = choose_font(spec.style.fontFile, font_exists);
    if (!font) return fail(font.error());
    return card_args_with_font(spec, form, *font);
}

Result<std::vector<std::string>> card_args_with_font(const CardSpec& spec, DrawtextForm form, const std::string& font) {
    const CardLayout layout = card_layout(spec);
    const std::int64_t frames = card_frames(spec);
    const std::vector<std::string> lines = wrap_card_text(spec.text, layout.lineChars);
    std::vector<std::string> text_files;
    if (form == DrawtextForm::TextAlign) {
        const auto path = spec.workFolder / card_text_file_name(frames);
        if (auto written = write_file(path, join_lines(lines)); !written) return fail(written.error());
        text_files.push_back(path_text(path));
    } else {
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (lines[k].empty()) {
                text_files.emplace_back();
                continue;
            }
            const auto path = spec.workFolder / card_line_file_name(frames, k);
            if (auto written = write_file(path, lines[k]); !written) return fail(written.error());
            text_files.push_back(path_text(path));
        }
    }
    return card_command(spec, font, text_files, form);
}

std::optional<std::string> fontconfig_charset_pattern(std::string_view text) {
    std::vector<char32_t> wanted;
    for (char32_t cp : utf8_code_points(text)) {
        if (cp < 0x80 || is_unicode_space(cp)) continue;
        if (std::find(wanted.begin(), wanted.end(), cp) == wanted.end()) wanted.push_back(cp);
    }
    if (wanted.empty()) return std::nullopt;
    std::sort(wanted.begin(), wanted.end());
    std::vector<std::string> hex;
    for (char32_t cp : wanted) hex.push_back(fmt::format("{:x}", static_cast<std::uint32_t>(cp)));
    return fmt::format(":charset={}", fmt::join(hex, " "));
}

std::optional<std::string> pick_covering_font(std::string_view listing, const std::string& preferred) {
    std::vector<std::string> files;
    for (const auto& line : split(listing, '\n')) {
        const std::string_view file = trim(line);
        if (!file.empty()) files.emplace_back(file);
    }
    if (files.empty()) return std::nullopt;
    if (std::find(files.begin(), files.end(), preferred) != files.end()) return preferred;
    std::sort(files.begin(), files.end());
    const auto styled = [](const std::string& file) {
        return contains(file, "Bold") || contains(file, "Italic") || contains(file, "Oblique");
    };
    const auto regular = std::find_if(files.begin(), files.end(), [&](const std::string& f) { return !styled(f); });
    return regular != files.end() ? *regular : files.front();
}

}  // namespace reel

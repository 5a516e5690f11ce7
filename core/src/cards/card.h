#pragma once
// Title cards and text cards: look, text layout, filter graph, ffmpeg arguments.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "probe/media_info.h"
#include "util/result.h"

namespace reel {

struct CardStyle {
    std::string fontFile;
    std::string textColor = "white";
    std::string backgroundColor = "black";
    std::string preset = "fast";
    double fontScale = 0.055;
    double fadeSeconds = 0.75;
};

struct CardSpec {
    VideoStreamInfo video;
    std::vector<AudioStreamInfo> audio;  // title card: all source tracks; text card: empty
    std::string text;
    CardStyle style;
    std::filesystem::path output;
    std::filesystem::path workFolder;
    std::int64_t frames = 1;
};

// Which drawtext form the installed ffmpeg can take: one filter with
// text_align (ffmpeg 6.1 on), or one drawtext per centred line.
enum class DrawtextForm { TextAlign, PerLine };

// Asks the installed ffmpeg ("-h filter=drawtext") whether it knows text_align.
DrawtextForm detect_drawtext_form(const std::string& ffmpeg);

// Default font files, in search order (Windows files first, then POSIX ones).
std::vector<std::string> default_font_files();
// The font to use: the trimmed configured file, else the first default that
// `exists` accepts; fails with the missing-font message.
Result<std::string> choose_font(const std::string& configured, const std::function<bool(const std::string&)>& exists);

std::vector<std::string> wrap_card_text(const std::string& text, std::size_t line_chars);
std::string escape_filter_path(const std::string& path);
std::string fade_expression(double fade, double seconds);

// Derived layout values of one card.
struct CardLayout {
    double fps = 0;
    double seconds = 0;
    std::int64_t fontSize = 0;
    std::size_t lineChars = 0;
    std::int64_t lineSpacing = 0;
    double fade = 0;
    std::string pix;
    std::string rate;
};
CardLayout card_layout(const CardSpec& spec);

// The "-vf" value. With TextAlign, `text_files` holds one file (the whole text);
// with PerLine, one entry per wrapped line: its file, or an empty text for an
// empty line, which draws nothing but keeps its place in the block.
std::string card_filter(const CardLayout& layout, const CardStyle& style, const std::string& font_path,
                        const std::vector<std::string>& text_files, DrawtextForm form);

// The frame count a card is rendered with: `frames`, but at least 1.
std::int64_t card_frames(const CardSpec& spec);
// "card-{frames}.txt": the whole text, for the text_align form.
std::string card_text_file_name(std::int64_t frames);
// "card-{frames}-{line}.txt": one wrapped line, for the per-line form.
std::string card_line_file_name(std::int64_t frames, std::size_t line);

// The complete ffmpeg argument list for text files already in place (pure).
// `text_files` as for card_filter; fails with the encoder or silence message.
Result<std::vector<std::string>> card_command(const CardSpec& spec, const std::string& font_path,
                                              const std::vector<std::string>& text_files, DrawtextForm form);

// Writes the card's text file(s) into the work folder and returns the complete
// ffmpeg argument list. `font_exists` decides which default font files exist.
Result<std::vector<std::string>> card_args(const CardSpec& spec, DrawtextForm form,
                                           const std::function<bool(const std::string&)>& font_exists);
// The same, asking the file system whether a default font is a regular file.
Result<std::vector<std::string>> card_args(const CardSpec& spec, DrawtextForm form);

}  // namespace reel

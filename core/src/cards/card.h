#pragma once
// Title cards and text cards: look, text layout, filter graph, ffmpeg arguments.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
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
    // The picture as it is shown: anamorphic pictures (a DVD's 720x480 seen
    // at 16:9) are laid out and drawn at their shown width, then squeezed to
    // the stored size and given the source's sample aspect ratio, so that the
    // card's text looks right and the card keeps the movie's shape.
    std::int64_t width = 0;        // stored
    std::int64_t height = 0;
    std::int64_t shownWidth = 0;   // width x sample aspect ratio, even
    std::string sar = "1";         // "num/den" for setsar; "1" for square pixels
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

// A long card whose middle stands still, encoded in part: its head (to the end
// of the fade-in), one group of pictures of the still card, and its tail (the
// rest, the fade-out in it); the group is shown `repeats` times between them.
// Each part starts with a picture that depends on nothing before it, so the
// group plays again as it is. Absent where every picture is to be encoded:
// cards with sound, cards in another codec than H.264 (an HEVC encoder's
// keyframes count their pictures on across a repeat), and cards whose group
// would not repeat at least twice.
struct CardRepeat {
    std::int64_t head = 0;
    std::int64_t group = 0;
    std::int64_t repeats = 0;
    std::int64_t tail = 0;
};
std::optional<CardRepeat> card_repeat(const CardSpec& spec);
// `card` (card_command's arguments for the whole card) made to encode only the
// pictures of the parts of `repeat`, each part into a file of `pattern` (for
// the segment muxer: "…-%03d.mkv").
std::vector<std::string> card_parts_arguments(const CardSpec& spec, std::vector<std::string> card,
                                              const CardRepeat& repeat, const std::string& pattern);

// Writes the card's text file(s) into the work folder and returns the complete
// ffmpeg argument list, drawing with `font`.
Result<std::vector<std::string>> card_args_with_font(const CardSpec& spec, DrawtextForm form, const std::string& font);
// fontconfig's pattern for the characters of `text` beyond ASCII
// (":charset=4e2d 6587"); absent when there are none.
std::optional<std::string> fontconfig_charset_pattern(std::string_view text);
// From fontconfig's list of font files that cover a text (one per line):
// `preferred` when it is among them, else the first regular style in name
// order; absent for an empty list.
std::optional<std::string> pick_covering_font(std::string_view listing, const std::string& preferred);

// Writes the card's text file(s) into the work folder and returns the complete
// ffmpeg argument list. `font_exists` decides which default font files exist.
Result<std::vector<std::string>> card_args(const CardSpec& spec, DrawtextForm form,
                                           const std::function<bool(const std::string&)>& font_exists);
// The same, asking the file system whether a default font is a regular file;
// a text in a script the default font lacks (Chinese, Japanese, ...) is drawn
// with a font that fontconfig says covers it.
Result<std::vector<std::string>> card_args(const CardSpec& spec, DrawtextForm form);

}  // namespace reel

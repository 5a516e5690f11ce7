// The parts of card rendering that ask the host: which drawtext form the
// installed ffmpeg takes, and which default font files exist.
#include "cards/card.h"

#include "tools/process.h"
#include "tools/run.h"
#include "tools/toolset.h"
#include "util/text.h"

namespace reel {

DrawtextForm detect_drawtext_form(const std::string& ffmpeg) {
    auto help = run_capture(ffmpeg, {"-hide_banner", "-h", "filter=drawtext"});
    // An ffmpeg that cannot answer is treated as an old one: the per-line form
    // works with every version that has drawtext at all.
    if (help && contains(*help, "text_align")) return DrawtextForm::TextAlign;
    return DrawtextForm::PerLine;
}

Result<std::vector<std::string>> card_args(const CardSpec& spec, DrawtextForm form) {
    auto font = choose_font(spec.style.fontFile, [](const std::string& path) {
        const auto info = file_info(path);
        return info && info->isRegular;
    });
    if (!font) return fail(font.error());
    // A font the user chose is used as it is; the default one only while it
    // has every character of the text. Without fontconfig nothing changes.
    if (trim(spec.style.fontFile).empty()) {
        if (const auto pattern = fontconfig_charset_pattern(spec.text)) {
            if (const auto fc_list = find_tool("fc-list", std::nullopt)) {
                auto listing = run_capture(*fc_list, {"-f", "%{file}\n", *pattern});
                if (listing) {
                    if (auto covering = pick_covering_font(*listing, *font)) font = *covering;
                }
            }
        }
    }
    return card_args_with_font(spec, form, *font);
}

}  // namespace reel

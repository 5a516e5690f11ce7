// The parts of card rendering that ask the host: which drawtext form the
// installed ffmpeg takes, and which default font files exist.
#include "cards/card.h"

#include "tools/process.h"
#include "tools/run.h"
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
    return card_args(spec, form, [](const std::string& path) {
        const auto info = file_info(path);
        return info && info->is_regular;
    });
}

}  // namespace reel

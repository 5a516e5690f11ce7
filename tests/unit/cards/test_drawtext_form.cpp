#include <gtest/gtest.h>

#include "cards/card.h"
#include "support/fake_tool.h"
#include "support/temp_dir.h"

namespace reel {
namespace {

TEST(DetectDrawtextForm, AsksTheHelpTextAndFallsBackToPerLine) {
    test::TempDir dir;
    const auto knows = test::write_fake_tool(dir.path(), "new-ffmpeg",
                                             "[ \"$*\" = \"-hide_banner -h filter=drawtext\" ] || exit 3\n"
                                             "echo 'drawtext AVOptions:'\n"
                                             "echo '   text_align        <flags>      ..FV....... set text alignment'\n");
    const auto old = test::write_fake_tool(dir.path(), "old-ffmpeg", "drawtext AVOptions:\n   fontfile  <string>\n", "",
                                           0);
    const auto broken = test::write_fake_tool(dir.path(), "broken-ffmpeg", "   text_align\n", "boom\n", 1);
    EXPECT_EQ(detect_drawtext_form(knows.string()), DrawtextForm::TextAlign);
    EXPECT_EQ(detect_drawtext_form(old.string()), DrawtextForm::PerLine);
    // A failed run says nothing about the options, even when its output looks right.
    EXPECT_EQ(detect_drawtext_form(broken.string()), DrawtextForm::PerLine);
    EXPECT_EQ(detect_drawtext_form((dir / "absent").string()), DrawtextForm::PerLine);
}

}  // namespace
}  // namespace reel

#include "core/app/main_form_layout.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

// Every character 7 pixels wide.
class FixedWidth final : public TextMeasure {
  public:
    int TextWidth(std::string_view text) const override { return 7 * int(text.size()); }
};

int Twice(int pixels) {
    return 2 * pixels;
}

TEST(HeaderLabelLefts, OwnPlacesUnlessTheLabelBeforeWouldReachIntoThem) {
    using Lefts = std::array<int, kHeaderLabelCount>;
    const struct {
        Lefts widths;
        Lefts lefts;
    } cases[] = {
        // Narrow labels: every one at its own place, scaled.
        {{10, 10, 10, 10, 10, 10, 10, 10}, {16, 80, 16, 80, 234, 386, 550, 630}},
        // A wide path title pushes the path; a wide size pushes "Compressed:", which then
        // pushes its value; the ratio keeps its place. Lines are independent.
        {{100, 10, 10, 200, 150, 10, 10, 10}, {16, 122, 16, 80, 286, 442, 550, 630}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HeaderLabelLefts(c.widths, Twice), c.lefts);
    }
}

TEST(ListColumnWidth, TheColumnsOwnWidthUnlessItsLongestTextOrItsSortedCaptionNeedsMore) {
    const FixedWidth font;
    const auto same = [](int pixels) { return pixels; };
    const struct {
        std::size_t column;
        int cellMargins;
        int arrowSpace;
        Scale scale;
        int width;
    } cases[] = {
        // "100 %" is 35 pixels wide: with 6 pixels of margins it needs 41 of the ratio's 40.
        {3, 6, 0, same, 41},
        {3, 6, 0, Twice, 80},
        // "9999 KB" (49) fits in 70; the name column has no text to fit.
        {1, 6, 0, same, 70},
        {2, 30, 0, same, 79},
        {0, 600, 0, same, 170},
        // The sorted caption keeps its whole text beside the arrow: "Compresed" is 63 wide,
        // "Ratio" 35, "Size" 28.
        {2, 6, 20, same, 83},
        {3, 6, 20, same, 55},
        {1, 6, 20, same, 70},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListColumnWidth(c.column, font, c.cellMargins, font, c.arrowSpace, c.scale),
                  c.width)
            << c.column;
    }
}

TEST(MainFormLayout, NameColumnFontFactorAndClassicFace) {
    // The Name column takes what the window gains, never less than its own width.
    EXPECT_EQ(NameColumnWidth(600, 180, 170), 420);
    EXPECT_EQ(NameColumnWidth(300, 180, 170), 170);
    // The layout grows with a larger desktop font and never shrinks.
    EXPECT_DOUBLE_EQ(FontFactor(8), 1.0);
    EXPECT_DOUBLE_EQ(FontFactor(14), 1.75);
    EXPECT_DOUBLE_EQ(FontFactor(6), 1.0);
    // The classic face draws Western European text only.
    const struct {
        const char* text;
        bool draws;
    } texts[] = {
        {"C:\\Daten\\Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac 5",
         true},                                               // ü ß €
        {"\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1", false},  // Greek
        {"\xd0\x9f\xd1\x80\xd0\xb8", false},                  // Cyrillic
        {"\xe6\x96\x87\xe4\xbb\xb6", false},                  // CJK
        {"\xf0\x9f\x93\x81", false},                          // emoji
        {"bad\xff", false},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(ClassicFaceDraws(t.text), t.draws) << t.text;
    }
}

TEST(ElideMiddle, LongTextKeepsItsBeginningAndItsEndAroundAnEllipsis) {
    const FixedWidth font;
    const std::string ellipsis = "\xe2\x80\xa6";  // 3 bytes: 21 pixels here
    const struct {
        std::string text;
        int width;
        std::string shown;
    } cases[] = {
        {"/short/path", 77, "/short/path"},
        {"/home/user/projects/packmeter", 70, "/ho" + ellipsis + "eter"},
        {"/a/\xce\xa9\xce\xa9\xce\xa9/b", 50, "/a" + ellipsis + "/b"},
        {"abcdef", 0, ellipsis},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ElideMiddle(c.text, font, c.width), c.shown) << c.text;
    }
    // The status line shortens a path in the middle and a sentence at its end.
    const std::string path = std::string(1, kPathSeparator) + "home" + kPathSeparator + "user";
    EXPECT_EQ(ShortenStatus(path, font, 49), path.substr(0, 2) + ellipsis + path.substr(8));
    EXPECT_EQ(ShortenStatus("btrfs - 12 entries", font, 70), "btrfs -" + ellipsis);
    EXPECT_EQ(ShortenStatus("short", font, 70), "short");
}

TEST(ShortenStatus, TheOutcomeAtTheEndStaysWholeWhileThePathOrSentenceBeforeItGivesWay) {
    const FixedWidth font;
    const std::string sep(1, kPathSeparator);
    const std::string path = sep + "home" + sep + "user" + sep + "projects" + sep + "big";
    const std::string dash = " \u2014 ";
    const struct {
        std::string text;
        int width;
        std::string start;  // what the shortened line begins with
        std::string end;    // and ends with
    } cases[] = {
        // A command's outcome, with the path shortened in the middle.
        {"Compressing " + path + " ... Finished" + dash + "2 entries could not be switched", 560,
         "Compressing " + sep + "h", "big ... Finished" + dash + "2 entries could not be switched"},
        {"Decompressing " + path + " ... Cancelled", 280, "Decompressing " + sep,
         "big ... Cancelled"},
        // A scan's outcome, with the volume's sentence shortened at its end.
        {"btrfs (supports file based compression)" + dash + "stopped after 0 entries in 0.1 s", 400,
         "btrfs", "\u2026" + dash + "stopped after 0 entries in 0.1 s"},
        {"ext4 (doesn't support file based compression)" + dash + "3 entries in 1.0 s" + dash +
             "2 unreadable",
         350, "ext4", dash + "3 entries in 1.0 s" + dash + "2 unreadable"},
        // Too narrow for the outcome beside the rest: the outcome alone, from its count.
        {"Compressing " + path + " ... Finished", 70, "Finished", "Finished"},
        {"btrfs (compresses)" + dash + "7 entries in 0.0 s" + dash + "1 entry could not be read",
         200, "7 entries in 0.0 s", "\u2026"},
    };
    for (const auto& c : cases) {
        const std::string shown = ShortenStatus(c.text, font, c.width);
        EXPECT_LE(font.TextWidth(shown), c.width) << shown;
        EXPECT_TRUE(shown.starts_with(c.start)) << shown;
        EXPECT_TRUE(shown.ends_with(c.end)) << shown;
        EXPECT_NE(shown, c.text);
    }
}

}  // namespace
}  // namespace packmeter

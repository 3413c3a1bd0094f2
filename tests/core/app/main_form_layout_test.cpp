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

TEST(ListColumnWidth, TheColumnsOwnWidthUnlessItsLongestTextNeedsMore) {
    const FixedWidth font;
    // "100 %" is 35 pixels wide: with 6 pixels of margins it needs 41 of the ratio's 40.
    EXPECT_EQ(ListColumnWidth(3, font, 6, [](int pixels) { return pixels; }), 41);
    EXPECT_EQ(ListColumnWidth(3, font, 6, Twice), 80);
    // "9999 KB" (49) fits in 70; the name column has no text to fit.
    EXPECT_EQ(ListColumnWidth(1, font, 6, [](int pixels) { return pixels; }), 70);
    EXPECT_EQ(ListColumnWidth(2, font, 30, [](int pixels) { return pixels; }), 79);
    EXPECT_EQ(ListColumnWidth(0, font, 600, [](int pixels) { return pixels; }), 170);
}

}  // namespace
}  // namespace packmeter

#include "core/app/main_form_layout.hpp"

#include <algorithm>

namespace packmeter {

std::array<int, kHeaderLabelCount> HeaderLabelLefts(
    const std::array<int, kHeaderLabelCount>& widths, const Scale& scale) {
    std::array<int, kHeaderLabelCount> lefts{};
    int lineEnd = 0;
    int lineY = -1;
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        const HeaderLabelSetup& setup = kHeaderLabels[i];
        if (setup.y != lineY) {
            lineY = setup.y;
            lineEnd = 0;
        }
        lefts[i] = std::max(scale(setup.x), lineEnd == 0 ? 0 : lineEnd + scale(kHeaderLabelGap));
        lineEnd = lefts[i] + widths[i];
    }
    return lefts;
}

int ListColumnWidth(std::size_t column, const TextMeasure& font, int cellMargins,
                    const Scale& scale) {
    const ListColumnSetup& setup = kListColumns.at(column);
    const std::string_view longest = setup.longest;
    const int least = scale(setup.width);
    return longest.empty() ? least : std::max(least, font.TextWidth(longest) + cellMargins);
}

}  // namespace packmeter

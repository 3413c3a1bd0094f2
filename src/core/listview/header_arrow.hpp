#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/listview/sort_option.hpp"

namespace packmeter {

// The 8 × 8 pictures that mark the sorted column's header, rows from the top: 'L' is the
// header's own face colour, 'D' the shadow grey and 'W' white. Up for ascending, down for
// descending.
using ArrowPicture = std::array<std::string_view, 8>;
const ArrowPicture& SortArrowPicture(TSortOption order);

struct ArrowColour {
    std::uint8_t red, green, blue;
};
inline constexpr ArrowColour kArrowShadow{128, 128, 128};
inline constexpr ArrowColour kArrowLight{255, 255, 255};

// The pictures' grey and white edges, drawn as they are, leave a faint outline that a light
// header all but hides: the windows draw every pixel that is not face ('D' and 'W') in the
// header's text colour, each as a square of ArrowPixelSize(mark) screen pixels, where `mark` is
// the size the toolkit gives its own sort mark (8 at 96 dpi and the usual font, 12 at 144 dpi),
// so that the arrow grows with the screen in whole pixels.
inline constexpr bool IsArrowInk(char pixel) {
    return pixel != 'L';
}
inline constexpr int ArrowPixelSize(int mark) {
    return mark < 4 ? 1 : (mark + 4) / 8;
}

}  // namespace packmeter

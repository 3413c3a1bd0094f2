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

}  // namespace packmeter

#pragma once

#include <cstdint>

namespace packmeter {

// The direction a report list is sorted in; the ordinals are the ones stored in the settings.
enum TSortOption : std::uint8_t { soNone = 0, soAscending = 1, soDescending = 2 };

}  // namespace packmeter

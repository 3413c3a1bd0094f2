#pragma once

#include <array>

namespace packmeter {

// The main list's columns, as the window shows them and the list is copied.
inline constexpr int kNameColumn = 0;
inline constexpr int kSizeColumn = 1;
inline constexpr int kCompressedColumn = 2;
inline constexpr int kRatioColumn = 3;

// The caption of the on-disk column. "Compresed" is spelled so on purpose: it is the name the
// column has always had, and users and scripts find the column by it.
inline constexpr const char* kCompressedCaption = "Compresed";

inline constexpr std::array<const char*, 4> kColumnCaptions = {"Name", "Size", kCompressedCaption,
                                                               "Ratio"};

}  // namespace packmeter

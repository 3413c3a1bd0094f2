#pragma once

#include <string_view>

#include "core/app/list_columns.hpp"
#include "core/listview/list_item.hpp"
#include "core/listview/sort_option.hpp"
#include "core/scan/entry_row.hpp"

namespace packmeter {

// The list row of an entry: the caption, the three size texts, the icon, the typed keys, the
// entry's raw name and its tool tip.
ListItem EntryItem(EntryRow row);

// Names without regard to case: a–z count as A–Z, every other byte by its code; the first
// difference decides, and a name that is the beginning of the other comes first.
int CompareNames(std::string_view a, std::string_view b);

// The main window's order of two entry rows by `column`, read from their keys: by name with
// the files before the folders; by size as shown (the unit first, then the number shown, so
// two rows that show the same are equal); or by the ratio. Reversed when `order` is
// soDescending; other columns compare equal.
int ListCompare(const ListItem& a, const ListItem& b, int column, TSortOption order);

// The text colour of a row: greyed when part of it could not be read, else by its compression
// state.
enum class RowColour { kWindowText, kNavy, kBlue, kGrayText };
RowColour RowTextColour(const EntryKeys& keys);

struct Rgb {
    int red, green, blue;
};
inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kBlue{0, 0, 255};

}  // namespace packmeter

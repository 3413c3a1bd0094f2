#pragma once

#include <cstdint>
#include <optional>
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
// A key that orders rows by `column` ascending as ListCompare does, as far as it tells: the
// files before the folders and the first 15 bytes of the name in upper case; the unit and the
// number shown; the ratio. Rows with equal keys need ListCompare.
SortKey ListSortKey(const ListItem& item, int column);

// The text colour of a row: greyed when part of it could not be read, else by its compression
// state.
enum class RowColour { kWindowText, kNavy, kBlue, kGrayText };
RowColour RowTextColour(const EntryKeys& keys);

struct Rgb {
    int red, green, blue;
};
inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kBlue{0, 0, 255};

// The contrast of two colours as the WCAG defines it, from 1 (equal) to 21 (black on white).
double ContrastRatio(Rgb a, Rgb b);

// The least contrast of readable text (the WCAG minimum), and the higher one that partly
// compressed rows keep on a dark background, so that they stay apart from compressed ones as
// navy and blue do on a light one.
inline constexpr double kTextContrast = 4.5;
inline constexpr double kPartlyContrast = 7.0;

// The colour of a navy or blue row on a list whose background is `base`: navy and blue
// themselves where they are readable on it (light backgrounds); otherwise lighter shades of the
// same hue, mixed with white until they reach their contrast. Nothing for the rows that take
// the list's own text colours.
std::optional<Rgb> RowRgb(RowColour colour, Rgb base);

}  // namespace packmeter

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/scan/entry_row.hpp"

namespace packmeter {

// One row of a report list: the caption (column 0) and the texts of the further columns.
struct ListItem {
    std::string caption;
    std::vector<std::string> subItems;
    int imageIndex = -1;
    // The owner's typed values of the row, which its comparison and colours read; the list
    // itself never does, and the texts above are for display only.
    EntryKeys keys;
    // The program's own text for the row (the entry rows keep the entry's raw name here).
    std::string data;
    // The row's tool tip; empty: none.
    std::string hint;
};

// The text of a column: the caption for 0 (and below), sub-item n - 1 for n, empty when missing.
const std::string& ColumnText(const ListItem& item, int column);

// Negative when `a` belongs before `b`, positive when after, 0 when either may come first.
using ItemOrder = std::function<int(const ListItem& a, const ListItem& b)>;

// The positions of `items` in sorted order. A stable merge sort: rows that compare equal keep
// their order, and a comparison that contradicts itself (for example one that compares some
// pairs as numbers and others as text) yields some order but never reads outside the rows.
std::vector<std::size_t> SortedOrder(const std::vector<ListItem>& items, const ItemOrder& order);

// The positions of `items` in sorted order when the rows before `firstNew` are sorted already:
// the rows from `firstNew` on are sorted and merged in, each going to its place.
std::vector<std::size_t> MergedOrder(const std::vector<ListItem>& items, std::size_t firstNew,
                                     const ItemOrder& order);

// The same for a list that shows `items` in the order of `rows` (row r is items[rows[r]]), so
// that sorting moves 4-byte positions rather than the rows themselves; positions are of rows.
std::vector<std::size_t> SortedOrder(const std::vector<ListItem>& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const ItemOrder& order);
std::vector<std::size_t> MergedOrder(const std::vector<ListItem>& items,
                                     const std::vector<std::uint32_t>& rows, std::size_t firstNew,
                                     const ItemOrder& order);

}  // namespace packmeter

#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/scan/entry_row.hpp"

namespace packmeter {

// One row of a report list: the caption (column 0) and the texts of the further columns.
struct ListItem {
    std::string caption;
    // The further columns' texts, for rows whose owner gives them; empty in a row that makes
    // them from its keys (keyTexts).
    std::vector<std::string> subItems;
    // The program's own text for the row. An entry row keeps the entry's raw name here only
    // where it differs from the caption, so that a name is stored once (see RawName).
    std::string data;
    // The row's tool tip; empty: none.
    std::string hint;
    // The owner's typed values of the row, which its comparison and colours read; the list
    // itself never does.
    EntryKeys keys;
    int imageIndex = -1;
    // The size, compressed and ratio texts are made from `keys` whenever they are read, rather
    // than kept: a list of a million rows holds numbers, not a million texts.
    bool keyTexts = false;

    // The entry's raw name of an entry row: `data`, or the caption where they are the same.
    const std::string& RawName() const { return data.empty() ? caption : data; }
};

// The text of a column: the caption for 0 (and below), sub-item n - 1 for n, empty when missing.
std::string ColumnText(const ListItem& item, int column);
// The number of further columns a row has texts for.
std::size_t SubItemCount(const ListItem& item);
// The row takes `from`'s further columns, keys and hint; its caption, name and icon stay.
void TakeFigures(ListItem& row, const ListItem& from);

// The rows of a list in the order they came, in chunks of fixed size: adding rows never moves
// the rows already there, so a growing list never holds its rows twice, and a row's address
// stays while the list lives.
class ListItemStore {
  public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    ListItem& operator[](std::size_t at) { return chunks_[at / kChunk][at % kChunk]; }
    const ListItem& operator[](std::size_t at) const { return chunks_[at / kChunk][at % kChunk]; }
    ListItem& at(std::size_t at);
    const ListItem& at(std::size_t at) const;
    void push_back(ListItem item);
    // Removes every row and gives their memory back.
    void clear();

  private:
    static constexpr std::size_t kChunk = 1024;
    std::vector<std::vector<ListItem>> chunks_;
    std::size_t size_ = 0;
};

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
std::vector<std::size_t> SortedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const ItemOrder& order);
std::vector<std::size_t> MergedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows, std::size_t firstNew,
                                     const ItemOrder& order);

// Two numbers for a row that order rows as far as they can: a row with a smaller key belongs
// before one with a larger key; rows with equal keys are ordered by the full comparison.
struct SortKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    auto operator<=>(const SortKey&) const = default;
    // The key of the opposite order.
    SortKey Reversed() const { return {~high, ~low}; }
};
using ItemKey = std::function<SortKey(const ListItem& item)>;

// The same for rows whose keys are known (keys[r] is the key of row r): the rows themselves are
// read only where two keys are equal, so that a sort or a merge rarely touches the rows' memory.
std::vector<std::size_t> SortedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const std::vector<SortKey>& keys, const ItemOrder& order);
std::vector<std::size_t> MergedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const std::vector<SortKey>& keys, std::size_t firstNew,
                                     const ItemOrder& order);

}  // namespace packmeter

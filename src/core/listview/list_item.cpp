#include "core/listview/list_item.hpp"

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "core/utils/size_text.hpp"

namespace packmeter {

std::string ColumnText(const ListItem& item, int column) {
    if (column <= 0) {
        return item.caption;
    }
    if (item.keyTexts) {
        const EntryKeys& keys = item.keys;
        switch (column) {
            case 1:
                return std::to_string(keys.shownSize) + ' ' + std::string(UnitName(keys.unit));
            case 2:
                return std::to_string(keys.shownOnDisk) + ' ' + std::string(UnitName(keys.unit));
            case 3:
                return std::to_string(keys.ratioPercent) + " %";
            default:
                return {};
        }
    }
    const auto index = static_cast<std::size_t>(column - 1);
    return index < item.subItems.size() ? item.subItems[index] : std::string();
}

std::size_t SubItemCount(const ListItem& item) {
    return item.keyTexts ? 3 : item.subItems.size();
}

void TakeFigures(ListItem& row, const ListItem& from) {
    row.subItems = from.subItems;
    row.keys = from.keys;
    row.keyTexts = from.keyTexts;
    row.hint = from.hint;
}

ListItem& ListItemStore::at(std::size_t at) {
    if (at >= size_) {
        throw std::out_of_range("ListItemStore::at");
    }
    return (*this)[at];
}

const ListItem& ListItemStore::at(std::size_t at) const {
    if (at >= size_) {
        throw std::out_of_range("ListItemStore::at");
    }
    return (*this)[at];
}

void ListItemStore::push_back(ListItem item) {
    if (size_ % kChunk == 0) {
        chunks_.emplace_back().reserve(kChunk);
    }
    chunks_.back().push_back(std::move(item));
    ++size_;
}

void ListItemStore::clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
}

namespace {

// Sorts the positions in `current` by `before(p, q)`, whether position p belongs before q: a
// bottom-up merge sort of runs of 1, 2, 4 ... positions in which the left run wins ties.
template <typename Before>
void MergeSort(std::vector<std::size_t>& current, const Before& before) {
    const std::size_t n = current.size();
    std::vector<std::size_t> merged(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t left = 0; left < n; left += 2 * width) {
            const std::size_t mid = std::min(left + width, n);
            const std::size_t right = std::min(left + 2 * width, n);
            std::size_t i = left;
            std::size_t j = mid;
            std::size_t out = left;
            while (i < mid && j < right) {
                if (before(current[j], current[i])) {
                    merged[out++] = current[j++];
                } else {
                    merged[out++] = current[i++];
                }
            }
            while (i < mid) {
                merged[out++] = current[i++];
            }
            while (j < right) {
                merged[out++] = current[j++];
            }
        }
        current.swap(merged);
    }
}

// The rows of a list as a list view shows them: its items in the order of `rows`.
template <typename Items>
struct IndexedRows {
    const Items& items;
    const std::vector<std::uint32_t>& rows;
    const ListItem& operator[](std::size_t row) const { return items[rows[row]]; }
    std::size_t size() const { return rows.size(); }
};

// Whether row p belongs before row q by `order`.
template <typename Rows>
auto ByOrder(const Rows& items, const ItemOrder& order) {
    return [&items, &order](std::size_t p, std::size_t q) { return order(items[p], items[q]) < 0; };
}

// The same, deciding by the rows' keys where they differ: the rows themselves are read only
// for equal keys.
template <typename Rows>
auto ByKey(const Rows& items, const std::vector<SortKey>& keys, const ItemOrder& order) {
    return [&items, &keys, &order](std::size_t p, std::size_t q) {
        return keys[p] != keys[q] ? keys[p] < keys[q] : order(items[p], items[q]) < 0;
    };
}

template <typename Before>
std::vector<std::size_t> SortedOrderOf(std::size_t n, const Before& before) {
    std::vector<std::size_t> current(n);
    std::iota(current.begin(), current.end(), std::size_t{0});
    MergeSort(current, before);
    return current;
}

template <typename Before>
std::vector<std::size_t> MergedOrderOf(std::size_t n, std::size_t firstNew, const Before& before) {
    firstNew = std::min(firstNew, n);
    std::vector<std::size_t> addedRows(n - firstNew);
    std::iota(addedRows.begin(), addedRows.end(), firstNew);
    MergeSort(addedRows, before);
    std::vector<std::size_t> result;
    result.reserve(n);
    // Each new row goes after the rows in place that it does not sort before (they win ties,
    // so equal rows keep the order they arrived in). Its place is found by galloping, then
    // halving, from where the previous one went: a batch of k rows among n costs about
    // k log(n / k) comparisons rather than n.
    std::size_t i = 0;
    for (const std::size_t added : addedRows) {
        std::size_t low = i;
        std::size_t step = 1;
        while (low + step <= firstNew && !before(added, low + step - 1)) {
            low += step;
            step *= 2;
        }
        std::size_t high = std::min(low + step - 1, firstNew);
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (before(added, mid)) {
                high = mid;
            } else {
                low = mid + 1;
            }
        }
        for (; i < low; ++i) {
            result.push_back(i);
        }
        result.push_back(added);
    }
    for (; i < firstNew; ++i) {
        result.push_back(i);
    }
    return result;
}

}  // namespace

std::vector<std::size_t> SortedOrder(const std::vector<ListItem>& items, const ItemOrder& order) {
    return SortedOrderOf(items.size(), ByOrder(items, order));
}

std::vector<std::size_t> SortedOrder(const std::vector<ListItem>& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const ItemOrder& order) {
    const IndexedRows<std::vector<ListItem>> shown{items, rows};
    return SortedOrderOf(rows.size(), ByOrder(shown, order));
}

std::vector<std::size_t> MergedOrder(const std::vector<ListItem>& items,
                                     const std::vector<std::uint32_t>& rows, std::size_t firstNew,
                                     const ItemOrder& order) {
    const IndexedRows<std::vector<ListItem>> shown{items, rows};
    return MergedOrderOf(rows.size(), firstNew, ByOrder(shown, order));
}

std::vector<std::size_t> SortedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const ItemOrder& order) {
    const IndexedRows<ListItemStore> shown{items, rows};
    return SortedOrderOf(rows.size(), ByOrder(shown, order));
}

std::vector<std::size_t> MergedOrder(const std::vector<ListItem>& items, std::size_t firstNew,
                                     const ItemOrder& order) {
    return MergedOrderOf(items.size(), firstNew, ByOrder(items, order));
}

std::vector<std::size_t> MergedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows, std::size_t firstNew,
                                     const ItemOrder& order) {
    const IndexedRows<ListItemStore> shown{items, rows};
    return MergedOrderOf(rows.size(), firstNew, ByOrder(shown, order));
}

std::vector<std::size_t> SortedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const std::vector<SortKey>& keys, const ItemOrder& order) {
    const IndexedRows<ListItemStore> shown{items, rows};
    return SortedOrderOf(rows.size(), ByKey(shown, keys, order));
}

std::vector<std::size_t> MergedOrder(const ListItemStore& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const std::vector<SortKey>& keys, std::size_t firstNew,
                                     const ItemOrder& order) {
    const IndexedRows<ListItemStore> shown{items, rows};
    return MergedOrderOf(rows.size(), firstNew, ByKey(shown, keys, order));
}

}  // namespace packmeter

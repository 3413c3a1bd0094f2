#include "core/listview/list_item.hpp"

#include <algorithm>
#include <numeric>

namespace packmeter {

const std::string& ColumnText(const ListItem& item, int column) {
    static const std::string kEmpty;
    if (column <= 0) {
        return item.caption;
    }
    const auto index = static_cast<std::size_t>(column - 1);
    return index < item.subItems.size() ? item.subItems[index] : kEmpty;
}

namespace {

// Sorts the positions in `current` by the rows they point to: a bottom-up merge sort of runs of
// 1, 2, 4 ... positions in which the left run wins ties.
template <typename Rows>
void MergeSort(std::vector<std::size_t>& current, const Rows& items, const ItemOrder& order) {
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
                if (order(items[current[j]], items[current[i]]) < 0) {
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
struct IndexedRows {
    const std::vector<ListItem>& items;
    const std::vector<std::uint32_t>& rows;
    const ListItem& operator[](std::size_t row) const { return items[rows[row]]; }
    std::size_t size() const { return rows.size(); }
};

template <typename Rows>
std::vector<std::size_t> SortedOrderOf(const Rows& items, const ItemOrder& order) {
    std::vector<std::size_t> current(items.size());
    std::iota(current.begin(), current.end(), std::size_t{0});
    MergeSort(current, items, order);
    return current;
}

template <typename Rows>
std::vector<std::size_t> MergedOrderOf(const Rows& items, std::size_t firstNew,
                                       const ItemOrder& order) {
    const std::size_t n = items.size();
    firstNew = std::min(firstNew, n);
    std::vector<std::size_t> addedRows(n - firstNew);
    std::iota(addedRows.begin(), addedRows.end(), firstNew);
    MergeSort(addedRows, items, order);
    std::vector<std::size_t> result;
    result.reserve(n);
    // Each new row goes after the rows in place that it does not sort before (they win ties,
    // so equal rows keep the order they arrived in). Its place is found by galloping, then
    // halving, from where the previous one went: a batch of k rows among n costs about
    // k log(n / k) comparisons rather than n.
    const auto before = [&](std::size_t added, std::size_t row) {
        return order(items[added], items[row]) < 0;
    };
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
    return SortedOrderOf(items, order);
}

std::vector<std::size_t> SortedOrder(const std::vector<ListItem>& items,
                                     const std::vector<std::uint32_t>& rows,
                                     const ItemOrder& order) {
    return SortedOrderOf(IndexedRows{items, rows}, order);
}

std::vector<std::size_t> MergedOrder(const std::vector<ListItem>& items, std::size_t firstNew,
                                     const ItemOrder& order) {
    return MergedOrderOf(items, firstNew, order);
}

std::vector<std::size_t> MergedOrder(const std::vector<ListItem>& items,
                                     const std::vector<std::uint32_t>& rows, std::size_t firstNew,
                                     const ItemOrder& order) {
    return MergedOrderOf(IndexedRows{items, rows}, firstNew, order);
}

}  // namespace packmeter

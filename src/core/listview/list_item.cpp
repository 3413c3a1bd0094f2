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
void MergeSort(std::vector<std::size_t>& current, const std::vector<ListItem>& items,
               const ItemOrder& order) {
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

}  // namespace

std::vector<std::size_t> SortedOrder(const std::vector<ListItem>& items, const ItemOrder& order) {
    std::vector<std::size_t> current(items.size());
    std::iota(current.begin(), current.end(), std::size_t{0});
    MergeSort(current, items, order);
    return current;
}

std::vector<std::size_t> MergedOrder(const std::vector<ListItem>& items, std::size_t firstNew,
                                     const ItemOrder& order) {
    const std::size_t n = items.size();
    firstNew = std::min(firstNew, n);
    std::vector<std::size_t> added(n - firstNew);
    std::iota(added.begin(), added.end(), firstNew);
    MergeSort(added, items, order);
    std::vector<std::size_t> result;
    result.reserve(n);
    std::size_t i = 0;
    std::size_t j = 0;
    // Rows already in place win ties, so equal rows keep the order they arrived in.
    while (i < firstNew && j < added.size()) {
        if (order(items[added[j]], items[i]) < 0) {
            result.push_back(added[j++]);
        } else {
            result.push_back(i++);
        }
    }
    while (i < firstNew) {
        result.push_back(i++);
    }
    result.insert(result.end(), added.begin() + std::ptrdiff_t(j), added.end());
    return result;
}

}  // namespace packmeter

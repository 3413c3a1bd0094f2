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

std::vector<std::size_t> SortedOrder(const std::vector<ListItem>& items, const ItemOrder& order) {
    std::vector<std::size_t> current(items.size());
    std::iota(current.begin(), current.end(), std::size_t{0});
    std::vector<std::size_t> merged(items.size());
    const std::size_t n = items.size();
    // Bottom-up: merge runs of 1, 2, 4 ... positions; the left run wins ties.
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
    return current;
}

}  // namespace packmeter

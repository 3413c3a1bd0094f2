#include "core/app/list_order.hpp"

#include "core/app/row_hint.hpp"

#include <cstdint>

namespace packmeter {

namespace {

int CompareSigned(std::int64_t a, std::int64_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// The unit decides first: a number shown in a smaller unit is below any in a larger one.
int CompareShown(SizeUnit unitA, std::int64_t a, SizeUnit unitB, std::int64_t b) {
    if (unitA != unitB) {
        return unitA < unitB ? -1 : 1;
    }
    return CompareSigned(a, b);
}

}  // namespace

ListItem EntryItem(EntryRow row) {
    ListItem item;
    item.caption = std::move(row.caption);
    item.subItems = {std::move(row.sizeText), std::move(row.onDiskText), std::move(row.ratioText)};
    item.imageIndex = row.iconIndex;
    item.keys = row.keys;
    item.keys.incomplete = row.unreadable > 0;
    item.hint = RowHint(row);
    item.data = std::move(row.name);
    return item;
}

int CompareNames(std::string_view a, std::string_view b) {
    const auto upper = [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code >= 'a' && code <= 'z' ? code - ('a' - 'A') : code;
    };
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = upper(a[i]) - upper(b[i]);
        if (difference != 0) {
            return difference;
        }
    }
    return CompareSigned(static_cast<std::int64_t>(a.size()), static_cast<std::int64_t>(b.size()));
}

int ListCompare(const ListItem& a, const ListItem& b, int column, TSortOption order) {
    int result = 0;
    const EntryKeys& x = a.keys;
    const EntryKeys& y = b.keys;
    switch (column) {
        case kNameColumn:
            result = x.folder && !y.folder   ? 1
                     : y.folder && !x.folder ? -1
                                             : CompareNames(a.caption, b.caption);
            break;
        case kSizeColumn:
            result = CompareShown(x.unit, x.shownSize, y.unit, y.shownSize);
            break;
        case kCompressedColumn:
            result = CompareShown(x.unit, x.shownOnDisk, y.unit, y.shownOnDisk);
            break;
        case kRatioColumn:
            result = CompareSigned(x.ratioPercent, y.ratioPercent);
            break;
        default:
            break;
    }
    return order == soDescending ? -result : result;
}

RowColour RowTextColour(const EntryKeys& keys) {
    if (keys.incomplete) {
        return RowColour::kGrayText;
    }
    switch (keys.state) {
        case CompressionState::kPartly:
            return RowColour::kNavy;
        case CompressionState::kCompressed:
            return RowColour::kBlue;
        case CompressionState::kPlain:
            break;
    }
    return RowColour::kWindowText;
}

}  // namespace packmeter

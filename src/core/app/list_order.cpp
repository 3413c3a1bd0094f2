#include "core/app/list_order.hpp"

#include <cstdint>

#include "core/utils/size_text.hpp"

namespace packmeter {

namespace {

int Sign(std::int64_t value) {
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

char UnitLetter(const std::string& text) {
    return text.size() >= 2 ? text[text.size() - 2] : 0;
}

// Different unit letters: K < M < G < T, read from the first row's letter.
int CompareUnits(char first, char second) {
    switch (first) {
        case 'G':
            return second == 'T' ? -1 : 1;
        case 'K':
            return -1;
        case 'M':
            return second == 'G' || second == 'T' ? -1 : 1;
        case 'T':
            return 1;
        default:
            return 0;
    }
}

int CompareSizes(const std::string& first, const std::string& second) {
    const char a = UnitLetter(first);
    const char b = UnitLetter(second);
    if (a == b) {
        return Sign(std::int64_t{FirstNumber(first)} - FirstNumber(second));
    }
    return CompareUnits(a, b);
}

}  // namespace

ListItem EntryItem(EntryRow row) {
    ListItem item;
    item.caption = std::move(row.caption);
    item.subItems = {std::move(row.sizeText), std::move(row.onDiskText), std::move(row.ratioText)};
    item.imageIndex = row.iconIndex;
    item.stateIndex = row.state;
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
    return Sign(static_cast<std::int64_t>(a.size()) - static_cast<std::int64_t>(b.size()));
}

int ListCompare(const ListItem& a, const ListItem& b, int column, TSortOption order) {
    int result = 0;
    const bool aFolder = (a.stateIndex & kFolderFlag) != 0;
    const bool bFolder = (b.stateIndex & kFolderFlag) != 0;
    switch (column) {
        case kNameColumn:
            result = aFolder && !bFolder   ? 1
                     : bFolder && !aFolder ? -1
                                           : CompareNames(a.caption, b.caption);
            break;
        case kSizeColumn:
        case kCompressedColumn:
            result = CompareSizes(ColumnText(a, column), ColumnText(b, column));
            break;
        case kRatioColumn:
            result = Sign(std::int64_t{FirstNumber(ColumnText(a, column))} -
                          FirstNumber(ColumnText(b, column)));
            break;
        default:
            break;
    }
    return order == soDescending ? -result : result;
}

RowColour RowTextColour(int stateIndex) {
    switch (stateIndex & kStateMask) {
        case kStatePartly:
            return RowColour::kNavy;
        case kStateCompressed:
            return RowColour::kBlue;
        default:
            return RowColour::kWindowText;
    }
}

}  // namespace packmeter

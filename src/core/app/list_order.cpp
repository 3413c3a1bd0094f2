#include "core/app/list_order.hpp"

#include "core/app/row_hint.hpp"
#include "core/utils/text.hpp"

#include <algorithm>
#include <cmath>
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
    item.keyTexts = true;
    item.imageIndex = row.iconIndex;
    item.keys = row.keys;
    item.keys.incomplete = row.unreadable > 0;
    item.hint = RowHint(row);
    if (row.name != item.caption) {
        item.data = std::move(row.name);
    }
    return item;
}

int CompareNames(std::string_view a, std::string_view b) {
    return CompareIgnoringCase(a, b);
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

SortKey ListSortKey(const ListItem& item, int column) {
    const EntryKeys& keys = item.keys;
    // A size below 2^56 as it is, a larger one (or a negative one) held at the end of the
    // range: equal keys then leave the order to ListCompare.
    const auto shown = [&](std::int64_t value) {
        constexpr std::int64_t kMost = (std::int64_t{1} << 56) - 1;
        return SortKey{std::uint64_t(static_cast<std::uint8_t>(keys.unit)) << 56 |
                           std::uint64_t(std::clamp<std::int64_t>(value, 0, kMost)),
                       0};
    };
    switch (column) {
        case kNameColumn: {
            // The bytes in upper case as CompareNames reads them, a shorter name padded with
            // zeros (which no name holds), so that it comes before the longer ones it begins.
            const std::string& name = item.caption;
            const auto byte = [&](std::size_t i) -> std::uint64_t {
                auto code = i < name.size() ? static_cast<unsigned char>(name[i]) : 0U;
                return code >= 'a' && code <= 'z' ? code - ('a' - 'A') : code;
            };
            SortKey key{keys.folder ? std::uint64_t{1} << 63 : 0, 0};
            for (std::size_t i = 0; i < 7; ++i) {
                key.high |= byte(i) << (48 - 8 * i);
            }
            for (std::size_t i = 0; i < 8; ++i) {
                key.low |= byte(7 + i) << (56 - 8 * i);
            }
            return key;
        }
        case kSizeColumn:
            return shown(keys.shownSize);
        case kCompressedColumn:
            return shown(keys.shownOnDisk);
        case kRatioColumn:
            return {std::uint64_t(keys.ratioPercent) ^ (std::uint64_t{1} << 63), 0};
        default:
            return {};
    }
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

namespace {

double Luminance(Rgb c) {
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red) + 0.7152 * channel(c.green) + 0.0722 * channel(c.blue);
}

Rgb Mix(Rgb c, Rgb with, double part) {
    const auto mix = [&](int a, int b) { return int(std::lround(a + (b - a) * part)); };
    return {mix(c.red, with.red), mix(c.green, with.green), mix(c.blue, with.blue)};
}

Rgb Readable(Rgb colour, Rgb base, double contrast) {
    if (ContrastRatio(colour, base) >= contrast) {
        return colour;
    }
    // Away from the background: towards white on a dark one, towards black on a light one.
    const Rgb target = Luminance(base) < 0.18 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    for (int step = 1; step <= 100; ++step) {
        const Rgb mixed = Mix(colour, target, step / 100.0);
        if (ContrastRatio(mixed, base) >= contrast) {
            return mixed;
        }
    }
    return target;
}

}  // namespace

double ContrastRatio(Rgb a, Rgb b) {
    const double x = Luminance(a) + 0.05;
    const double y = Luminance(b) + 0.05;
    return x > y ? x / y : y / x;
}

std::optional<Rgb> RowRgb(RowColour colour, Rgb base) {
    switch (colour) {
        case RowColour::kNavy:
            return Readable(kNavy, base, Luminance(base) < 0.18 ? kPartlyContrast : kTextContrast);
        case RowColour::kBlue:
            return Readable(kBlue, base, kTextContrast);
        default:
            return std::nullopt;
    }
}

}  // namespace packmeter

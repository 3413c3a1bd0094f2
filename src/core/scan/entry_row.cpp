#include "core/scan/entry_row.hpp"

#include <cmath>

#include "core/utils/text.hpp"

namespace packmeter {

namespace {

std::string PercentText(std::int64_t percent) {
    return std::to_string(percent) + " %";
}

}  // namespace

std::int64_t RatioPercent(std::int64_t logical, std::int64_t onDisk) {
    if (logical <= 0) {
        return 0;
    }
    const double ratio = static_cast<double>(logical - onDisk) / static_cast<double>(logical);
    // nearbyint rounds in the default mode, to nearest with halves to even.
    return static_cast<std::int64_t>(std::nearbyint(ratio * 100.0));
}

CompressionState RowState(bool flagged, std::int64_t logical, std::int64_t onDisk) {
    return flagged            ? CompressionState::kCompressed
           : logical > onDisk ? CompressionState::kPartly
                              : CompressionState::kPlain;
}

EntryRow MakeEntryRow(std::string name, int iconIndex, bool isFolder, bool flagged,
                      std::int64_t logical, std::int64_t onDisk) {
    EntryRow row;
    row.caption = ToDisplayText(name);
    row.name = std::move(name);
    row.iconIndex = iconIndex;
    row.size = logical;
    row.onDisk = onDisk;
    const ShownSizes shown = ShowSizePair(logical, onDisk);
    SizePair texts = FormatShownSizes(shown);
    row.sizeText = std::move(texts.size);
    row.onDiskText = std::move(texts.compressed);
    row.keys.unit = shown.unit;
    row.keys.shownSize = shown.size;
    row.keys.shownOnDisk = shown.compressed;
    row.keys.ratioPercent = RatioPercent(logical, onDisk);
    row.ratioText = PercentText(row.keys.ratioPercent);
    row.keys.state = RowState(flagged, logical, onDisk);
    row.keys.folder = isFolder;
    return row;
}

ScanTotals MakeScanTotals(std::int64_t logical, std::int64_t onDisk, const NumberFormat& format) {
    ScanTotals totals;
    totals.size = logical;
    totals.onDisk = onDisk;
    totals.ratioPercent = RatioPercent(logical, onDisk);
    totals.sizeText = FormatSize(0, logical, format);
    totals.onDiskText = FormatSize(0, onDisk, format);
    totals.ratioText = PercentText(totals.ratioPercent);
    return totals;
}

}  // namespace packmeter

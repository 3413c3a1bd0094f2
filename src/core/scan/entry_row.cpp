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

EntryKeys EntryRow::Keys() const {
    EntryKeys keys;
    const ShownSizes shown = ShowSizePair(size, onDisk);
    keys.unit = shown.unit;
    keys.shownSize = shown.size;
    keys.shownOnDisk = shown.compressed;
    keys.ratioPercent = RatioPercent(size, onDisk);
    keys.state = state;
    keys.folder = folder;
    keys.incomplete = unreadable > 0;
    return keys;
}

std::string EntryRow::Caption() const {
    return ToDisplayText(name);
}

SizePair EntryRow::SizeTexts() const {
    return FormatSizePair(size, onDisk);
}

std::string EntryRow::RatioText() const {
    return PercentText(RatioPercent(size, onDisk));
}

EntryRow MakeEntryRow(std::string name, int iconIndex, bool isFolder, bool flagged,
                      std::int64_t logical, std::int64_t onDisk) {
    EntryRow row;
    row.name = std::move(name);
    row.iconIndex = iconIndex;
    row.size = logical;
    row.onDisk = onDisk;
    row.state = RowState(flagged, logical, onDisk);
    row.folder = isFolder;
    return row;
}

void EntryRows::push_back(EntryRow row) {
    if (size_ % kChunk == 0) {
        chunks_.emplace_back().reserve(kChunk);
    }
    chunks_.back().push_back(std::move(row));
    ++size_;
}

void EntryRows::Reorder(const std::vector<std::size_t>& order) {
    // Follows each cycle of the permutation, so that every row moves once and no second list of
    // rows is needed.
    std::vector<bool> placed(size_, false);
    for (std::size_t start = 0; start < size_; ++start) {
        if (placed[start]) {
            continue;
        }
        EntryRow first = std::move((*this)[start]);
        std::size_t at = start;
        for (std::size_t from = order[at]; from != start; from = order[at]) {
            (*this)[at] = std::move((*this)[from]);
            placed[at] = true;
            at = from;
        }
        (*this)[at] = std::move(first);
        placed[at] = true;
    }
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

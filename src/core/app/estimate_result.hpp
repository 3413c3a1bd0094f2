#pragma once

// What the estimate's result dialog and the "Compress with..." dialog show, the same on both
// windows: the rows' texts, the totals and the sentences around them.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/utils/forecast.hpp"
#include "core/utils/size_text.hpp"

namespace packmeter {

// A finished (or stopped) estimate: the entries of one folder it was asked for and the
// forecast of each.
struct EstimateResult {
    // The folder the entries lie in, with a trailing separator.
    std::string folder;
    // The entries' raw names, in list order; empty when the folder's whole tree was asked for.
    std::vector<std::string> names;
    bool wholeFolder = false;
    ForecastRequest request;
    // One per entry (one for the folder itself when wholeFolder), in order.
    std::vector<ForecastRow> rows;
    // False when the user cancelled it: the rows are incomplete and not shown.
    bool complete = true;
};

inline constexpr std::size_t kEstimateColumnCount = 5;
inline constexpr std::array<const char*, kEstimateColumnCount> kEstimateColumnCaptions = {
    "Name", "Size", "On disk now", "Forecast", "Saving"};

// One line of the result's table: the name (folders end in the separator), then the sizes and
// the saving, as the columns above read.
struct EstimateLine {
    std::array<std::string, kEstimateColumnCount> cells;
    // The forecast saving of the line in percent of its size.
    double savingPercent = 0;
};

// The result's rows, in order.
std::vector<EstimateLine> EstimateLines(const EstimateResult& result,
                                        const NumberFormat& format = {});
// The line of the totals over every row ("Total").
EstimateLine EstimateTotalLine(const EstimateResult& result, const NumberFormat& format = {});
// The sums of every row's sizes.
ForecastSizes EstimateTotals(const EstimateResult& result);

// "Forecast of compressing with zstd:3 (exact: every byte read)" and the like: the method and
// the mode above the table.
std::string EstimateHeading(const EstimateResult& result);
// The sentence under the table: what the whole would take now and after compressing.
std::string EstimateSummary(const EstimateResult& result, const NumberFormat& format = {});
// "12.5 %" (one decimal, never below zero: a file that grows is stored plain).
std::string SavingText(double percent);

// The dialogs' titles and buttons.
inline constexpr const char* kEstimateTitle = "Estimated saving";
inline constexpr const char* kEstimateCompressButton = "&Compress";
inline constexpr const char* kEstimateExactButton = "&Exact estimate";
inline constexpr const char* kEstimateCloseButton = "Close";
inline constexpr const char* kCompressWithTitle = "Compress with";
inline constexpr const char* kAlgorithmLabel = "&Algorithm:";
inline constexpr const char* kLevelLabel = "&Level:";
inline constexpr const char* kMinSavingLabel = "Leave a file plain when it saves less than:";
// Shown instead of the algorithm and the level where the volume has only one method.
inline constexpr const char* kOnlyLznt1Text =
    "NTFS compresses with its own method (LZNT1) only: there is no algorithm or level to "
    "choose. Files that would save less than the threshold are left plain.";
// Shown under the btrfs choice.
inline constexpr const char* kAlgorithmsText =
    "zstd compresses best (levels 1-15, 3 by default), lzo fastest, zlib in between (levels "
    "1-9).";
// The status line while an estimate reads, and its ends.
inline constexpr const char* kEstimatingText = "Estimating the saving of ";
inline constexpr const char* kEstimateFinishedText = "Estimate finished";

// The algorithms the dialog offers, in its order, and their levels.
struct AlgorithmOffer {
    CompressionAlgorithm algorithm;
    const char* name;
    int minLevel;  // 0 and 0: no level to choose
    int maxLevel;
    int defaultLevel;
};
inline constexpr std::array<AlgorithmOffer, 3> kAlgorithmOffers = {{
    {CompressionAlgorithm::kZstd, "zstd", 1, 15, 3},
    {CompressionAlgorithm::kLzo, "lzo", 0, 0, 0},
    {CompressionAlgorithm::kZlib, "zlib", 1, 9, 3},
}};
// The offer of the choice's algorithm (zstd for the volume's default).
const AlgorithmOffer& OfferOf(const CompressionChoice& choice);
// Whether the volume with this file system lets the user choose the algorithm (btrfs).
bool AlgorithmChoosable(const std::string& fileSystem);

// The choice as the settings keep it ("zstd:5" and "10"), and read back; anything unreadable
// gives the default (the volume's own method, no threshold).
struct ChoiceSettings {
    std::string method;
    std::string minSaving;
};
ChoiceSettings StoreChoice(const CompressionChoice& choice);
CompressionChoice LoadChoice(const ChoiceSettings& stored);
inline constexpr const char* kChoiceSettingsGroup = "CompressWith";
inline constexpr const char* kChoiceMethodName = "Method";
inline constexpr const char* kChoiceMinSavingName = "MinSaving";

}  // namespace packmeter

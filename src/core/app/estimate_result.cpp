#include "core/app/estimate_result.hpp"

#include <cstdio>
#include <cstdlib>

#include "core/utils/text.hpp"

namespace packmeter {

namespace {

// The entry's name as the table shows it: the part after the folder, a folder ending in the
// separator, unreadable files counted in brackets.
std::string RowName(const EstimateResult& result, const ForecastRow& row) {
    std::string name = row.path;
    if (!result.wholeFolder && name.compare(0, result.folder.size(), result.folder) == 0) {
        name.erase(0, result.folder.size());
    }
    while (name.size() > 1 && name.back() == kPathSeparator) {
        name.pop_back();
    }
    std::string text = ToSafeDisplayText(name);
    if (row.folder && (text.empty() || text.back() != kPathSeparator)) {
        text += kPathSeparator;
    }
    if (!row.found) {
        text += " [not found]";
    } else if (row.sizes.unreadable > 0) {
        text += " [" + std::to_string(row.sizes.unreadable) + " unreadable]";
    }
    return text;
}

EstimateLine Line(std::string name, const ForecastSizes& sizes, const NumberFormat& format) {
    EstimateLine line;
    line.savingPercent = SavingPercent(sizes.size, sizes.forecast);
    std::vector<std::string> shown =
        FormatSizesAlike(0, {sizes.size, sizes.onDiskNow, sizes.forecast}, format);
    line.cells = {std::move(name), std::move(shown[0]), std::move(shown[1]), std::move(shown[2]),
                  SavingText(line.savingPercent)};
    return line;
}

std::string MethodName(const CompressionChoice& choice) {
    // The volume's default is zstd at its default level, as the forecast computes it.
    const std::string method = CompressionMethodText(choice);
    return method == "default" ? "zstd:3" : method;
}

}  // namespace

std::string SavingText(double percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", percent < 0 ? 0.0 : percent);
    return text;
}

std::vector<EstimateLine> EstimateLines(const EstimateResult& result, const NumberFormat& format) {
    std::vector<EstimateLine> lines;
    for (const ForecastRow& row : result.rows) {
        lines.push_back(Line(RowName(result, row), row.sizes, format));
    }
    return lines;
}

ForecastSizes EstimateTotals(const EstimateResult& result) {
    ForecastSizes totals;
    for (const ForecastRow& row : result.rows) {
        totals.size += row.sizes.size;
        totals.onDiskNow += row.sizes.onDiskNow;
        totals.forecast += row.sizes.forecast;
        totals.files += row.sizes.files;
        totals.unreadable += row.sizes.unreadable;
    }
    return totals;
}

EstimateLine EstimateTotalLine(const EstimateResult& result, const NumberFormat& format) {
    return Line("Total", EstimateTotals(result), format);
}

std::string EstimateHeading(const EstimateResult& result) {
    std::string text;
    const ForecastRules rules = result.request.rules.value_or(
        result.rows.empty() ? ForecastRules::kNone : RulesForFileSystem(result.rows[0].fileSystem));
    if (rules == ForecastRules::kNtfs) {
        text = "Forecast of compressing with LZNT1";
    } else {
        text = "Forecast of compressing with " + MethodName(result.request.method);
    }
    text += result.request.quick ? " (quick: large files sampled, some small ones read)"
                                 : " (exact: every byte read)";
    if (result.request.method.minSavingPercent > 0) {
        text += "; files saving less than " + SavingText(result.request.method.minSavingPercent) +
                " are left plain";
    }
    return text;
}

std::string EstimateSummary(const EstimateResult& result, const NumberFormat& format) {
    const ForecastSizes totals = EstimateTotals(result);
    const std::vector<std::string> shown =
        FormatSizesAlike(0, {totals.size, totals.onDiskNow, totals.forecast}, format);
    std::string text = GroupThousands(totals.files, format) +
                       (totals.files == 1 ? " file of " : " files of ") + shown[0] + " take " +
                       shown[1] + " now and would take " + shown[2] + " compressed.";
    if (totals.unreadable > 0) {
        text += " " + GroupThousands(totals.unreadable, format) +
                (totals.unreadable == 1 ? " file" : " files") +
                " could not be read and count as they are.";
    }
    return text;
}

const AlgorithmOffer& OfferOf(const CompressionChoice& choice) {
    for (const AlgorithmOffer& offer : kAlgorithmOffers) {
        if (offer.algorithm == choice.algorithm) {
            return offer;
        }
    }
    return kAlgorithmOffers[0];
}

bool AlgorithmChoosable(const std::string& fileSystem) {
    return RulesForFileSystem(fileSystem) == ForecastRules::kBtrfs;
}

ChoiceSettings StoreChoice(const CompressionChoice& choice) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%g", choice.minSavingPercent);
    return {CompressionMethodText(choice), percent};
}

CompressionChoice LoadChoice(const ChoiceSettings& stored) {
    CompressionChoice choice;
    if (auto parsed = ParseCompressionMethod(stored.method);
        parsed && parsed->algorithm != CompressionAlgorithm::kLznt1) {
        choice = *parsed;
    }
    char* end = nullptr;
    const double percent = std::strtod(stored.minSaving.c_str(), &end);
    if (end != stored.minSaving.c_str() && percent >= 0 && percent <= 100) {
        choice.minSavingPercent = percent;
    }
    return choice;
}

}  // namespace packmeter

#include "core/scan/algorithm_text.hpp"

#include "core/scan/entry_row.hpp"

namespace packmeter {

std::string AlgorithmSplitText(const AlgorithmSplit& split, const NumberFormat& format) {
    std::string text;
    for (const AlgorithmSplit::Part& part : split.Parts()) {
        if (!text.empty()) {
            text += '\n';
        }
        const AlgorithmFigures& f = part.figures;
        text += std::string(AlgorithmName(part.algorithm)) + ": " +
                FormatSize(0, f.onDisk, format) + " on disk of " +
                FormatSize(0, f.uncompressed, format) + " (" +
                std::to_string(RatioPercent(f.uncompressed, f.onDisk)) + " % saved)";
    }
    return text;
}

}  // namespace packmeter

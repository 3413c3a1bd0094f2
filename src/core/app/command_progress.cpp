#include "core/app/command_progress.hpp"

namespace packmeter {

std::string FailedEntriesText(std::int64_t count, const NumberFormat& format) {
    return std::string(" \u2014 ") + GroupThousands(count, format) +
           (count == 1 ? " entry" : " entries") + " could not be switched";
}

int CommandProgress::Percent() const {
    std::int64_t done = bytesDone;
    std::int64_t total = bytesTotal;
    if (total <= 0) {
        done = entriesDone;
        total = entriesTotal;
    }
    if (total <= 0) {
        return 0;
    }
    const std::int64_t percent = done * 100 / total;
    return static_cast<int>(percent < 0 ? 0 : (percent > 100 ? 100 : percent));
}

std::string LeftAloneText(std::int64_t count, const NumberFormat& format) {
    return std::string(" \u2014 ") + GroupThousands(count, format) +
           (count == 1 ? " file" : " files") + " left alone (would save too little)";
}

std::string CommandProgress::Text(const NumberFormat& format) const {
    if (estimating) {
        return FormatSize(0, bytesDone, format) + " of " + FormatSize(0, bytesTotal, format) +
               " read";
    }
    return GroupThousands(entriesDone, format) + " of " + GroupThousands(entriesTotal, format) +
           (entriesTotal == 1 ? " entry, " : " entries, ") + FormatSize(0, bytesDone, format) +
           " of " + FormatSize(0, bytesTotal, format);
}

}  // namespace packmeter

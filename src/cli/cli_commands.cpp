#include "cli/cli_commands.hpp"

#include <algorithm>

#include "core/app/list_order.hpp"
#include "core/app/row_hint.hpp"
#include "core/utils/forecast.hpp"
#include "core/utils/text.hpp"

namespace packmeter::cli {

bool Write(const std::string& text, Terminal& terminal) {
    if (terminal.Out(text)) {
        return true;
    }
    const std::string reason = terminal.OutError();
    terminal.Err("packmeter-cli: cannot write the output" + (reason.empty() ? "" : ": " + reason) +
                 "\n");
    return false;
}

std::vector<std::size_t> RowOrder(const EntryRows& rows, int column, bool descending) {
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    // What the window's order (ListCompare) reads of each row, taken once: the rank decides
    // first (the files before the folders by name, the unit by size), then the number, or the
    // name as the window shows it.
    struct Key {
        std::int64_t number;
        std::uint8_t rank;
    };
    std::vector<Key> keys(rows.size());
    // The display names that differ from the raw ones (not valid UTF-8), by row.
    std::vector<std::string> shownNames;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const EntryRow& row = rows[i];
        Key& key = keys[i];
        if (column == kNameColumn) {
            key.rank = row.IsFolder() ? 1 : 0;
            key.number = -1;
            const bool ascii = std::all_of(row.name.begin(), row.name.end(),
                                           [](char c) { return (c & 0x80) == 0; });
            if (std::string shown = ascii ? std::string() : row.Caption();
                !ascii && shown != row.name) {
                key.number = static_cast<std::int64_t>(shownNames.size());
                shownNames.push_back(std::move(shown));
            }
            continue;
        }
        const EntryKeys entry = row.Keys();
        const bool bySize = column == kSizeColumn || column == kCompressedColumn;
        key.rank = bySize ? static_cast<std::uint8_t>(entry.unit) : 0;
        key.number = column == kSizeColumn         ? entry.shownSize
                     : column == kCompressedColumn ? entry.shownOnDisk
                     : column == kRatioColumn      ? entry.ratioPercent
                                                   : 0;
    }
    const auto name = [&](std::size_t at) -> std::string_view {
        return keys[at].number < 0 ? std::string_view(rows[at].name)
                                   : std::string_view(shownNames[std::size_t(keys[at].number)]);
    };
    const auto compare = [&](std::size_t a, std::size_t b) {
        const Key& x = keys[a];
        const Key& y = keys[b];
        if (x.rank != y.rank) {
            return x.rank < y.rank ? -1 : 1;
        }
        if (column == kNameColumn) {
            return CompareNames(name(a), name(b));
        }
        return x.number < y.number ? -1 : x.number > y.number ? 1 : 0;
    };
    // Stable, as the window's sort is: rows that compare equal keep the listing order.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return descending ? compare(b, a) < 0 : compare(a, b) < 0;
    });
    return order;
}

namespace {

// Puts the rows (and their volumes, when given) in the order the window shows them after a
// click on the column's header (a second click for --reverse); without a column, in the order
// they were listed. The rows move in place: a copy would hold every row twice.
void OrderRows(Report& report, const Options& options) {
    if (options.sortColumn < 0 && !options.reverse) {
        return;
    }
    std::vector<std::size_t> order;
    if (options.sortColumn >= 0) {
        order = RowOrder(report.rows, options.sortColumn, options.reverse);
    } else {
        order.resize(report.rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = order.size() - 1 - i;
        }
    }
    report.rows.Reorder(order);
    std::vector<VolumeInfo> volumes;
    for (const std::size_t at : order) {
        if (at < report.rowVolumes.size()) {
            volumes.push_back(std::move(report.rowVolumes[at]));
        }
    }
    report.rowVolumes = std::move(volumes);
}

}  // namespace

int Print(Report& report, const Options& options, Terminal& terminal, int result) {
    OrderRows(report, options);
    OutputText out([&](const std::string& block) { return Write(block, terminal); });
    Render(report, options.format, out);
    if (options.byAlgorithm && options.format == Format::kTable && report.hasTotals) {
        out += RenderAlgorithmTable(report.totals);
    }
    return out.Flush() ? result : 2;
}

void ShowNotice(const VolumeInfo& volume, Terminal& terminal) {
    if (!volume.notice.empty()) {
        terminal.Err("packmeter-cli: " + ToSafeDisplayText(volume.notice) + "\n");
    }
}

void NoteIgnoredAlgorithm(const Options& options, const std::vector<VolumeInfo>& volumes,
                          Terminal& terminal) {
    if (options.choice.algorithm == CompressionAlgorithm::kDefault) {
        return;
    }
    for (const VolumeInfo& volume : volumes) {
        if (RulesForFileSystem(volume.fileSystem) == ForecastRules::kNtfs) {
            terminal.Err("packmeter-cli: NTFS compresses with LZNT1 only: --algorithm " +
                         CompressionMethodText(options.choice) + " ignored there\n");
            return;
        }
    }
}

}  // namespace packmeter::cli

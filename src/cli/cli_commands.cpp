#include "cli/cli_commands.hpp"

#include <algorithm>

#include "core/app/list_order.hpp"
#include "core/app/row_hint.hpp"
#include "core/listview/list_item.hpp"
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

namespace {

// Puts the rows (and their volumes, when given) in the order the window shows them after a
// click on the column's header (a second click for --reverse); without a column, in the order
// they were listed.
void OrderRows(Report& report, const Options& options) {
    if (options.sortColumn < 0 && !options.reverse) {
        return;  // the listing order: nothing to move (a copy would hold every row twice)
    }
    std::vector<EntryRow>& rows = report.rows;
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (options.sortColumn >= 0) {
        std::vector<ListItem> items;
        items.reserve(rows.size());
        for (const EntryRow& row : rows) {
            items.push_back(EntryItem(row));
        }
        const TSortOption direction = options.reverse ? soDescending : soAscending;
        order = SortedOrder(items, [&](const ListItem& a, const ListItem& b) {
            return ListCompare(a, b, options.sortColumn, direction);
        });
    } else if (options.reverse) {
        std::reverse(order.begin(), order.end());
    }
    std::vector<EntryRow> sorted;
    sorted.reserve(rows.size());
    std::vector<VolumeInfo> volumes;
    for (const std::size_t at : order) {
        sorted.push_back(std::move(rows[at]));
        if (at < report.rowVolumes.size()) {
            volumes.push_back(std::move(report.rowVolumes[at]));
        }
    }
    rows = std::move(sorted);
    report.rowVolumes = std::move(volumes);
}

}  // namespace

int Print(Report& report, const Options& options, Terminal& terminal, int result) {
    OrderRows(report, options);
    std::string text = Render(report, options.format);
    if (options.byAlgorithm && options.format == Format::kTable && report.hasTotals) {
        text += RenderAlgorithmTable(report.totals);
    }
    return Write(text, terminal) ? result : 2;
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

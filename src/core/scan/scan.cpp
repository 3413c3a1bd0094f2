#include "core/scan/scan.hpp"

#include <vector>

#include "core/utils/compression.hpp"
#include "core/utils/program_thread.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

EntryKind KindOf(const Entry& entry) {
    if (entry.unreadable || entry.regular || entry.enterable) {
        return EntryKind::kPlain;
    }
    if (entry.attributes & attr::kReparsePoint) {
        return EntryKind::kLink;
    }
    return entry.folder ? EntryKind::kMount : EntryKind::kSpecial;
}

}  // namespace

TScan::TScan(std::string folder, std::shared_ptr<ScanOutput> output, std::shared_ptr<FileSystem> fs,
             std::shared_ptr<IconSource> icons, NumberFormat format)
    : folder_(IncludeTrailingChar(std::move(folder))),
      output_(std::move(output)),
      fs_(std::move(fs)),
      icons_(std::move(icons)),
      format_(std::move(format)) {}

TScan::~TScan() {
    Terminate();
    WaitFor();
}

void TScan::Start() {
    if (!thread_.joinable() && !finished_) {
        thread_ = StartProgramThread("TScan", [this] { Execute(); });
    }
}

void TScan::Terminate() {
    stop_->store(true);
}

void TScan::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

int TScan::IconIndex(std::string_view name, bool isFolder) {
    return icons_ ? icons_->IconIndex(folder_, name, isFolder) : -1;
}

void TScan::AddEntry(std::string name, int iconIndex, bool isFolder, bool flagged,
                     std::int64_t logical, std::int64_t onDisk, EntryKind kind,
                     std::int64_t unreadable, AlgorithmSplit byAlgorithm) {
    if (Terminated()) {
        return;
    }
    EntryRow row = MakeEntryRow(std::move(name), iconIndex, isFolder, flagged, logical, onDisk);
    row.kind = kind;
    row.unreadable = unreadable;
    row.byAlgorithm = std::move(byAlgorithm);
    output_->AddRow(std::move(row));
}

void TScan::Execute() {
    const auto flaggedBy = [](const Entry& e) {
        return (e.attributes & (attr::kCompressed | attr::kSparse)) != 0;
    };
    if (!Terminated()) {
        output_->ScanBusy(true);
    }
    FolderSizes total;
    // The files with several links counted in the totals so far.
    LinkedFiles counted;
    const auto folder = fs_->OpenFolder(folder_);
    if (folder) {
        // Folder pass: every sub-folder, measured over its whole tree.
        struct Found {
            bool flagged;
            EntryKind kind;
            bool unreadable;
        };
        std::vector<TreeRoot> roots;
        std::vector<Found> found;
        // The files' sizes come from the file pass below: this listing asks for folders only.
        const bool listed = folder->List(ListDetail::kFolders, [&](const Entry& entry) {
            if (Terminated()) {
                return false;
            }
            if (entry.folder && !IsExcludedFolderName(entry.name)) {
                roots.push_back({std::string(entry.name), entry.enterable && !entry.unreadable});
                found.push_back({flaggedBy(entry), KindOf(entry), entry.unreadable});
            }
            return true;
        });
        if (!listed) {
            ++total.unreadable;
        }
        TreeMeasurer measurer(walkThreads_);
        measurer.MeasureAll(
            *folder, folder_, roots, stop_.get(), &progress_, counted,
            [&](std::size_t index, const FolderSizes& sizes, const FolderSizes& newToAll) {
                const std::int64_t unreadable =
                    sizes.unreadable + (found[index].unreadable ? 1 : 0);
                // A file linked from several sub-folders counts once in the totals.
                total.logical += newToAll.logical;
                total.onDisk += newToAll.onDisk;
                total.byAlgorithm += newToAll.byAlgorithm;
                total.unreadable += unreadable;
                const std::string& name = roots[index].name;
                AddEntry(name, IconIndex(name, true), true, found[index].flagged, sizes.logical,
                         sizes.onDisk, found[index].kind, unreadable, sizes.byAlgorithm);
            });
        // File pass: every other entry, by the sizes of the listing.
        folder->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            if (Terminated()) {
                return false;
            }
            if (entry.folder) {
                return true;
            }
            if (counted.CountOnce(entry)) {
                total += {entry.size, entry.onDisk};
                total.byAlgorithm += entry.byAlgorithm;
            }
            total.unreadable += entry.unreadable ? 1 : 0;
            const std::string name(entry.name);
            AddEntry(name, IconIndex(name, false), false, flaggedBy(entry), entry.size,
                     entry.onDisk, KindOf(entry), entry.unreadable ? 1 : 0, entry.byAlgorithm);
            return true;
        });
    }
    if (!Terminated()) {
        ScanTotals totals = MakeScanTotals(total.logical, total.onDisk, format_);
        totals.unreadable = total.unreadable;
        totals.byAlgorithm = std::move(total.byAlgorithm);
        output_->SetTotals(std::move(totals));
        output_->ScanBusy(false);
    }
    finished_ = true;
}

}  // namespace packmeter

#include "core/scan/scan.hpp"

#include "core/utils/compression.hpp"
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
        thread_ = std::thread([this] { Execute(); });
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
                     std::int64_t ratioPercent, std::int64_t onDisk, std::int64_t logical,
                     EntryKind kind, std::int64_t unreadable) {
    if (Terminated()) {
        return;
    }
    EntryRow row =
        MakeEntryRow(std::move(name), iconIndex, isFolder, flagged, ratioPercent, onDisk, logical);
    row.kind = kind;
    row.unreadable = unreadable;
    output_->AddRow(std::move(row));
}

void TScan::Execute() {
    const auto flaggedBy = [](const Entry& e) {
        return (e.attributes & (attr::kCompressed | attr::kSparse)) != 0;
    };
    if (!Terminated()) {
        output_->ScanBusy(true);
    }
    std::int64_t totalLogical = 0;
    std::int64_t totalOnDisk = 0;
    std::int64_t totalUnreadable = 0;
    const auto folder = fs_->OpenFolder(folder_);
    if (folder) {
        TreeMeasurer measurer(walkThreads_);
        // Folder pass: every sub-folder, measured over its whole tree.
        const bool listed = folder->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            if (Terminated()) {
                return false;
            }
            if (!entry.folder || IsExcludedFolderName(entry.name)) {
                return true;
            }
            std::int64_t logical = 0;
            std::int64_t onDisk = 0;
            std::int64_t unreadable = entry.unreadable ? 1 : 0;
            if (entry.enterable && !entry.unreadable) {
                if (const auto sub = folder->OpenSubfolder(entry.name)) {
                    std::string path = folder_;
                    path += entry.name;
                    path += kPathSeparator;
                    measurer.Measure(*sub, path, logical, onDisk, stop_.get());
                    unreadable = measurer.Unreadable();
                } else {
                    unreadable = 1;
                }
            }
            totalLogical += logical;
            totalOnDisk += onDisk;
            totalUnreadable += unreadable;
            const std::string name(entry.name);
            AddEntry(name, IconIndex(name, true), true, flaggedBy(entry),
                     RatioPercent(logical, onDisk), onDisk, logical, KindOf(entry), unreadable);
            return !Terminated();
        });
        if (!listed) {
            ++totalUnreadable;
        }
        // File pass: every other entry, by the sizes of the listing.
        folder->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            if (Terminated()) {
                return false;
            }
            if (entry.folder) {
                return true;
            }
            totalLogical += entry.size;
            totalOnDisk += entry.onDisk;
            totalUnreadable += entry.unreadable ? 1 : 0;
            const std::string name(entry.name);
            AddEntry(name, IconIndex(name, false), false, flaggedBy(entry),
                     RatioPercent(entry.size, entry.onDisk), entry.onDisk, entry.size,
                     KindOf(entry), entry.unreadable ? 1 : 0);
            return true;
        });
    }
    if (!Terminated()) {
        ScanTotals totals = MakeScanTotals(totalLogical, totalOnDisk, format_);
        totals.unreadable = totalUnreadable;
        output_->SetTotals(std::move(totals));
        output_->ScanBusy(false);
    }
    finished_ = true;
}

}  // namespace packmeter

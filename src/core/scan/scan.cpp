#include "core/scan/scan.hpp"

#include <vector>

#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

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
                     std::int64_t logical, std::int64_t onDisk) {
    if (Terminated()) {
        return;
    }
    output_->AddRow(MakeEntryRow(std::move(name), iconIndex, isFolder, flagged, logical, onDisk));
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
        std::vector<TreeRoot> roots;
        std::vector<bool> flagged;
        folder->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            if (Terminated()) {
                return false;
            }
            if (entry.folder && !IsExcludedFolderName(entry.name)) {
                roots.push_back({std::string(entry.name), entry.enterable});
                flagged.push_back(flaggedBy(entry));
            }
            return true;
        });
        TreeMeasurer measurer(walkThreads_);
        measurer.MeasureAll(
            *folder, folder_, roots, stop_.get(), &progress_,
            [&](std::size_t index, const FolderSizes& sizes, const LinkedFiles& links) {
                total += sizes;
                // A file linked from several sub-folders counts once in the totals.
                for (const LinkedFile& file : links.Counted()) {
                    if (!counted.CountOnce(file)) {
                        total.logical -= file.sizes.logical;
                        total.onDisk -= file.sizes.onDisk;
                    }
                }
                const std::string& name = roots[index].name;
                AddEntry(name, IconIndex(name, true), true, flagged[index], sizes.logical,
                         sizes.onDisk);
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
            }
            const std::string name(entry.name);
            AddEntry(name, IconIndex(name, false), false, flaggedBy(entry), entry.size,
                     entry.onDisk);
            return true;
        });
    }
    if (!Terminated()) {
        output_->SetTotals(MakeScanTotals(total.logical, total.onDisk, format_));
        output_->ScanBusy(false);
    }
    finished_ = true;
}

}  // namespace packmeter

#include "core/scan/scan.hpp"

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
    std::int64_t totalLogical = 0;
    std::int64_t totalOnDisk = 0;
    const auto folder = fs_->OpenFolder(folder_);
    if (folder) {
        TreeMeasurer measurer(walkThreads_);
        // Folder pass: every sub-folder, measured over its whole tree.
        folder->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            if (Terminated()) {
                return false;
            }
            if (!entry.folder || IsExcludedFolderName(entry.name)) {
                return true;
            }
            std::int64_t logical = 0;
            std::int64_t onDisk = 0;
            if (entry.enterable) {
                if (const auto sub = folder->OpenSubfolder(entry.name)) {
                    std::string path = folder_;
                    path += entry.name;
                    path += kPathSeparator;
                    measurer.Measure(*sub, path, logical, onDisk, stop_.get());
                }
            }
            totalLogical += logical;
            totalOnDisk += onDisk;
            const std::string name(entry.name);
            AddEntry(name, IconIndex(name, true), true, flaggedBy(entry), logical, onDisk);
            return !Terminated();
        });
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
            const std::string name(entry.name);
            AddEntry(name, IconIndex(name, false), false, flaggedBy(entry), entry.size,
                     entry.onDisk);
            return true;
        });
    }
    if (!Terminated()) {
        output_->SetTotals(MakeScanTotals(totalLogical, totalOnDisk, format_));
        output_->ScanBusy(false);
    }
    finished_ = true;
}

}  // namespace packmeter

#include "core/app/compress_command.hpp"

#include <memory>

#include "core/scan/folder_walk.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

struct Found {
    bool present = false;
    bool folder = false;
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
};

Found LookUp(FileSystem& fs, const std::string& folder, const std::string& name) {
    Found found;
    if (const auto dir = fs.OpenFolder(folder)) {
        dir->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            if (entry.name != name) {
                return true;
            }
            // A mount point (a folder that is no link) is switched when it is named itself.
            const bool link = (entry.attributes & attr::kReparsePoint) != 0;
            found = {true, entry.folder && (entry.enterable || !link), entry.size, entry.onDisk};
            return false;
        });
    }
    return found;
}

bool Stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

// The walk of GetFolderSizes in its switching modes: each folder is switched with its own files,
// then measured, then its sub-folders follow in listing order, each finished before the next.
// A stack of folders on the way down takes the place of recursion.
class TreeSwitch {
  public:
    TreeSwitch(bool decompress, std::vector<CompressionFailure>* failures,
               const std::atomic<bool>* stop, ScanProgress* progress)
        : decompress_(decompress), failures_(failures), stop_(stop), progress_(progress) {}

    // False when stopped.
    bool Run(std::unique_ptr<Folder> root, const std::string& path) {
        stack_.push_back(Enter(std::move(root), path));
        while (!stack_.empty()) {
            if (Stopped(stop_)) {
                return false;
            }
            Level& top = stack_.back();
            if (top.next == top.subfolders.size()) {
                stack_.pop_back();
                continue;
            }
            const std::string& name = top.subfolders[top.next++];
            std::string subPath = top.path + name + kPathSeparator;
            auto sub = top.folder->OpenSubfolder(name);
            // A folder whose last sub-folder this was is done: dropping it now keeps the open
            // folders to those with sub-folders still to come (one for a long chain).
            if (top.next == top.subfolders.size()) {
                stack_.pop_back();
            }
            // A folder that cannot be opened adds nothing, as in the measuring walk.
            if (sub) {
                Level level = Enter(std::move(sub), std::move(subPath));
                stack_.push_back(std::move(level));
            }
        }
        return !Stopped(stop_);
    }

    std::int64_t logical = 0;
    std::int64_t onDisk = 0;

  private:
    struct Level {
        std::unique_ptr<Folder> folder;
        std::string path;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };

    Level Enter(std::unique_ptr<Folder> folder, std::string path) {
        if (progress_) {
            progress_->SetCurrentScanFolder(path);
        }
        CompressionFailure failure;
        if (!SetFolderCompression(*folder, decompress_, false, &failure, stop_) &&
            !Stopped(stop_) && failures_) {
            failures_->push_back({path + failure.path, failure.reason});
        }
        Level level{std::move(folder), std::move(path), {}, 0};
        level.folder->List(ListDetail::kSizes, [&](const Entry& entry) {
            if (entry.regular) {
                logical += entry.size;
                onDisk += entry.onDisk;
            } else if (entry.folder && entry.enterable && !IsExcludedFolderName(entry.name)) {
                level.subfolders.emplace_back(entry.name);
            }
            return true;
        });
        return level;
    }

    bool decompress_;
    std::vector<CompressionFailure>* failures_;
    const std::atomic<bool>* stop_;
    ScanProgress* progress_;
    std::vector<Level> stack_;
};

}  // namespace

std::optional<EntryRow> CompressEntry(FileSystem& fs, const std::string& folder,
                                      const std::string& name, bool decompress, int iconIndex,
                                      std::vector<CompressionFailure>* failures,
                                      const std::atomic<bool>* stop, ScanProgress* progress) {
    const std::string path = IncludeTrailingChar(folder) + name;
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    bool isFolder = false;
    if (LookUp(fs, folder, name).folder) {
        isFolder = true;
        const std::string folderPath = IncludeTrailingChar(path);
        if (auto root = fs.OpenFolder(folderPath)) {
            TreeSwitch walk(decompress, failures, stop, progress);
            if (!walk.Run(std::move(root), folderPath)) {
                return std::nullopt;
            }
            logical = walk.logical;
            onDisk = walk.onDisk;
        } else {
            if (failures) {
                failures->push_back({folderPath, "the folder cannot be opened"});
            }
        }
    } else {
        CompressionFailure failure;
        if (!SetFileCompression(fs, path, decompress, &failure)) {
            if (failures) {
                failures->push_back(std::move(failure));
            }
            return std::nullopt;
        }
        const Found found = LookUp(fs, folder, name);
        if (!found.present) {
            if (failures) {
                failures->push_back({path, "gone after the switch"});
            }
            return std::nullopt;
        }
        logical = found.size;
        onDisk = found.onDisk;
    }
    EntryRow row = MakeEntryRow(name, iconIndex, isFolder, false, logical, onDisk);
    row.keys.state = decompress ? CompressionState::kPlain : CompressionState::kCompressed;
    return row;
}

}  // namespace packmeter

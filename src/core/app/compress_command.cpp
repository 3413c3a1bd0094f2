#include "core/app/compress_command.hpp"

#include <memory>
#include <utility>

#include "core/scan/folder_walk.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

struct Found {
    bool present = false;
    bool folder = false;  // switched and measured as a folder
    bool flagged = false;
    bool link = false;
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
            found.present = true;
            found.folder = entry.folder && (entry.enterable || !link);
            found.flagged = (entry.attributes & (attr::kCompressed | attr::kSparse)) != 0;
            found.link = link;
            found.size = entry.size;
            found.onDisk = entry.onDisk;
            return false;
        });
    }
    return found;
}

bool Stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

// Walks a tree depth first without recursion: each folder is handed to `onFolder`, then each
// of its regular files to `onFile` in listing order, then its sub-folders follow, each
// finished before the next. `stop` is read before every file and folder; false when it ended
// the walk.
template <typename OnFolder, typename OnFile>
bool WalkTree(std::unique_ptr<Folder> root, std::string path, ListDetail detail,
              const std::atomic<bool>* stop, OnFolder onFolder, OnFile onFile) {
    struct Level {
        std::unique_ptr<Folder> folder;
        std::string path;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };
    struct File {
        std::string name;
        std::int64_t size;
    };
    std::vector<Level> stack;
    // Handles one folder with its files; false when stopped.
    const auto enter = [&](std::unique_ptr<Folder> folder, std::string folderPath) {
        onFolder(*folder, folderPath);
        Level level{std::move(folder), std::move(folderPath), {}, 0};
        std::vector<File> files;
        level.folder->List(detail, [&](const Entry& entry) {
            if (entry.regular) {
                files.push_back({std::string(entry.name), entry.size});
            } else if (entry.folder && entry.enterable && !IsExcludedFolderName(entry.name)) {
                level.subfolders.emplace_back(entry.name);
            }
            return true;
        });
        for (const File& file : files) {
            if (Stopped(stop)) {
                return false;
            }
            onFile(*level.folder, level.path, file.name, file.size);
        }
        if (!level.subfolders.empty()) {
            stack.push_back(std::move(level));
        }
        return true;
    };
    if (!enter(std::move(root), std::move(path))) {
        return false;
    }
    while (!stack.empty()) {
        if (Stopped(stop)) {
            return false;
        }
        Level& top = stack.back();
        const std::string& name = top.subfolders[top.next++];
        std::string subPath = top.path + name + kPathSeparator;
        auto sub = top.folder->OpenSubfolder(name);
        // A folder whose last sub-folder this was is done: dropping it now keeps the open
        // folders to those with sub-folders still to come (one for a long chain).
        if (top.next == top.subfolders.size()) {
            stack.pop_back();
        }
        // A folder that cannot be opened adds nothing, as in the measuring walk.
        if (sub && !enter(std::move(sub), std::move(subPath))) {
            return false;
        }
    }
    return true;
}

}  // namespace

CompressCount CountEntry(FileSystem& fs, const std::string& folder, const std::string& name,
                         const std::atomic<bool>* stop) {
    const Found found = LookUp(fs, folder, name);
    if (!found.present) {
        return {};
    }
    if (!found.folder) {
        return {1, found.size};
    }
    CompressCount count;
    const std::string path = IncludeTrailingChar(IncludeTrailingChar(folder) + name);
    if (auto root = fs.OpenFolder(path)) {
        WalkTree(
            std::move(root), path, ListDetail::kWalk, stop,
            [&](Folder&, const std::string&) { ++count.entries; },
            [&](Folder&, const std::string&, const std::string&, std::int64_t size) {
                ++count.entries;
                count.bytes += size;
            });
    } else {
        count.entries = 1;
    }
    return count;
}

std::optional<EntryRow> MeasureEntry(FileSystem& fs, const std::string& folder,
                                     const std::string& name, int iconIndex) {
    const Found found = LookUp(fs, folder, name);
    if (!found.present) {
        return std::nullopt;
    }
    std::int64_t logical = found.size;
    std::int64_t onDisk = found.onDisk;
    std::int64_t unreadable = 0;
    if (found.folder) {
        const FolderSizes sizes =
            GetFolderSizes(fs, IncludeTrailingChar(IncludeTrailingChar(folder) + name));
        logical = sizes.logical;
        onDisk = sizes.onDisk;
        unreadable = sizes.unreadable;
    }
    EntryRow row = MakeEntryRow(name, iconIndex, found.folder, found.flagged, logical, onDisk);
    row.unreadable = unreadable;
    return row;
}

CompressResult CompressEntry(FileSystem& fs, const std::string& folder, const std::string& name,
                             bool decompress, int iconIndex,
                             std::vector<CompressionFailure>* failures,
                             const std::atomic<bool>* stop, CompressListener* listener) {
    const std::string parent = IncludeTrailingChar(folder);
    const std::string path = parent + name;
    const auto fail = [&](std::string failedPath, std::string reason) {
        if (failures) {
            failures->push_back({std::move(failedPath), std::move(reason)});
        }
    };
    CompressResult result;
    if (Stopped(stop)) {
        result.outcome = CompressOutcome::kStopped;
        return result;
    }
    const Found found = LookUp(fs, parent, name);
    if (found.folder) {
        const std::string folderPath = IncludeTrailingChar(path);
        auto root = fs.OpenFolder(folderPath);
        if (!root) {
            fail(folderPath, "the folder cannot be opened");
        } else if (!fs.CompressionAvailable()) {
            fail(folderPath, "not supported on this system");
        } else {
            const auto switched = [&](const std::string& at, std::int64_t bytes, bool ok,
                                      const std::string& reason) {
                if (!ok) {
                    fail(at, reason);
                }
                if (listener) {
                    listener->Switched(at, bytes, ok);
                }
            };
            const bool whole = WalkTree(
                std::move(root), folderPath, ListDetail::kSizes, stop,
                [&](Folder& dir, const std::string& at) {
                    if (listener) {
                        listener->Switching(at);
                    }
                    const bool ok = dir.SetCompression(decompress);
                    switched(at, 0, ok, ok ? std::string() : dir.LastFailure());
                },
                [&](Folder& dir, const std::string& at, const std::string& file,
                    std::int64_t size) {
                    const std::string filePath = at + file;
                    if (listener) {
                        listener->Switching(filePath);
                    }
                    const bool ok = dir.SetFileCompression(file, decompress);
                    switched(filePath, size, ok, ok ? std::string() : dir.LastFailure());
                });
            if (!whole) {
                result.outcome = CompressOutcome::kStopped;
            }
        }
    } else {
        if (listener) {
            listener->Switching(path);
        }
        CompressionFailure failure;
        const bool ok = found.present ? SetFileCompression(fs, path, decompress, &failure)
                                      : (failure = {path, "no such file or folder"}, false);
        if (listener) {
            listener->Switched(path, found.size, ok);
        }
        if (!ok) {
            fail(std::move(failure.path), std::move(failure.reason));
            result.outcome = CompressOutcome::kFailed;
            return result;
        }
    }
    result.row = MeasureEntry(fs, parent, name, iconIndex);
    if (!result.row && result.outcome == CompressOutcome::kDone && !found.folder) {
        fail(path, "gone after the switch");
        result.outcome = CompressOutcome::kFailed;
    }
    return result;
}

}  // namespace packmeter

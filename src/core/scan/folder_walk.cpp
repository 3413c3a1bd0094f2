#include "core/scan/folder_walk.hpp"

#include <memory>
#include <vector>

#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

bool Stopped(const StopFlag* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

// Switches `folder` in the switching modes, then adds the sizes of its files and returns the
// names of the sub-folders to enter.
std::vector<std::string> Visit(Folder& folder, const std::string& path, WalkMode mode,
                               const StopFlag* stop, ScanProgress* progress, LinkedFiles& links,
                               FolderSizes& sizes) {
    if (progress) {
        progress->SetCurrentScanFolder(path);
    }
    if (mode == kCompress || mode == kDecompress) {
        SetFolderCompression(folder, mode == kDecompress, false);
    }
    return ListForWalk(folder, stop, links, sizes);
}

// Each folder, then its sub-folders in listing order, each tree finished before the next. The
// folders on the way down are kept in a list of their own rather than on the call stack, so
// that no depth of tree can exhaust the stack; a folder is closed once its last sub-folder is
// entered.
void Walk(Folder& root, std::string& path, WalkMode mode, const StopFlag* stop,
          ScanProgress* progress, LinkedFiles& links, FolderSizes& sizes) {
    struct Level {
        std::unique_ptr<Folder> owned;  // empty for the root, which the caller owns
        Folder* folder = nullptr;
        std::size_t pathLength = 0;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };
    std::vector<Level> stack;
    stack.push_back(
        {nullptr, &root, path.size(), Visit(root, path, mode, stop, progress, links, sizes), 0});
    while (!stack.empty() && !Stopped(stop)) {
        Level& top = stack.back();
        if (top.next == top.subfolders.size()) {
            stack.pop_back();
            continue;
        }
        const std::string& name = top.subfolders[top.next++];
        path.resize(top.pathLength);
        path += name;
        path += kPathSeparator;
        std::unique_ptr<Folder> sub = top.folder->OpenSubfolder(name);
        if (top.next == top.subfolders.size()) {
            stack.pop_back();
        }
        if (!sub) {
            ++sizes.unreadable;
            continue;
        }
        std::vector<std::string> subfolders = Visit(*sub, path, mode, stop, progress, links, sizes);
        Folder* const opened = sub.get();
        stack.push_back({std::move(sub), opened, path.size(), std::move(subfolders), 0});
    }
}

}  // namespace

std::vector<std::string> ListForWalk(Folder& folder, const StopFlag* stop, LinkedFiles& links,
                                     FolderSizes& sizes) {
    std::vector<std::string> subfolders;
    const bool listed = folder.List(ListDetail::kWalk, [&](const Entry& entry) {
        if (Stopped(stop)) {
            return false;
        }
        if (entry.unreadable) {
            ++sizes.unreadable;
        } else if (entry.regular) {
            if (links.CountOnce(entry)) {
                sizes += {entry.size, entry.onDisk};
                sizes.byAlgorithm += entry.byAlgorithm;
            }
        } else if (entry.folder && entry.enterable && !IsExcludedFolderName(entry.name)) {
            subfolders.emplace_back(entry.name);
        }
        return true;
    });
    if (!listed && !Stopped(stop)) {
        ++sizes.unreadable;
    }
    return subfolders;
}

std::string ScanProgress::CurrentScanFolder() const {
    std::lock_guard guard(lock_);
    return folder_;
}

void ScanProgress::SetCurrentScanFolder(std::string_view folder) {
    std::lock_guard guard(lock_);
    folder_.assign(folder);
}

void ScanProgress::TrySetCurrentScanFolder(std::string_view folder) {
    std::unique_lock guard(lock_, std::try_to_lock);
    if (guard) {
        folder_.assign(folder);
    }
}

bool LinkedFiles::CountOnce(const Entry& entry) {
    return entry.links <= 1 ||
           CountOnce(LinkedFile{
               entry.volumeId, entry.fileId, {entry.size, entry.onDisk, 0, entry.byAlgorithm}});
}

bool LinkedFiles::CountOnce(const LinkedFile& file) {
    std::lock_guard guard(lock_);
    if (!seen_.insert({file.volumeId, file.fileId}).second) {
        return false;
    }
    counted_.push_back(file);
    return true;
}

std::vector<LinkedFile> LinkedFiles::Counted() const {
    std::lock_guard guard(lock_);
    return counted_;
}

FolderSizes GetFolderSizes(FileSystem& fs, const std::string& path, WalkMode mode,
                           const StopFlag* stop, ScanProgress* progress) {
    const std::string folderPath = IncludeTrailingChar(path);
    LinkedFiles links;
    if (const auto folder = fs.OpenFolder(folderPath)) {
        return GetFolderSizes(*folder, folderPath, mode, stop, progress, links);
    }
    if (progress) {
        progress->SetCurrentScanFolder(folderPath);
    }
    return {};
}

FolderSizes GetFolderSizes(Folder& folder, const std::string& path, WalkMode mode,
                           const StopFlag* stop, ScanProgress* progress, LinkedFiles& links) {
    FolderSizes sizes;
    std::string walking = path;
    Walk(folder, walking, mode, stop, progress, links, sizes);
    return sizes;
}

}  // namespace packmeter

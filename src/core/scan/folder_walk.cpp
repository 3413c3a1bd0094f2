#include "core/scan/folder_walk.hpp"

#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

bool Stopped(const StopFlag* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

void Walk(Folder& folder, std::string& path, WalkMode mode, const StopFlag* stop,
          ScanProgress* progress, LinkedFiles& links, FolderSizes& sizes) {
    if (progress) {
        progress->SetCurrentScanFolder(path);
    }
    if (mode == kCompress || mode == kDecompress) {
        SetFolderCompression(folder, mode == kDecompress, false);
    }
    const bool listed = folder.List(ListDetail::kWalk, [&](const Entry& entry) {
        if (Stopped(stop)) {
            return false;
        }
        if (entry.unreadable) {
            ++sizes.unreadable;
        } else if (entry.regular) {
            if (links.CountOnce(entry)) {
                sizes += {entry.size, entry.onDisk};
            }
        } else if (entry.folder && entry.enterable && !IsExcludedFolderName(entry.name)) {
            if (const auto sub = folder.OpenSubfolder(entry.name)) {
                const std::size_t length = path.size();
                path += entry.name;
                path += kPathSeparator;
                Walk(*sub, path, mode, stop, progress, links, sizes);
                path.resize(length);
            } else {
                ++sizes.unreadable;
            }
        }
        return true;
    });
    if (!listed && !Stopped(stop)) {
        ++sizes.unreadable;
    }
}

}  // namespace

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
           CountOnce(LinkedFile{entry.volumeId, entry.fileId, {entry.size, entry.onDisk}});
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

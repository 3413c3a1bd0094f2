#include "core/scan/folder_walk.hpp"

#include <mutex>

#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

std::mutex& CurrentScanFolderLock() {
    static std::mutex lock;
    return lock;
}

std::string& CurrentScanFolderValue() {
    static std::string value;
    return value;
}

bool Stopped(const StopFlag* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

}  // namespace

std::string CurrentScanFolder() {
    std::lock_guard guard(CurrentScanFolderLock());
    return CurrentScanFolderValue();
}

void SetCurrentScanFolder(std::string folder) {
    std::lock_guard guard(CurrentScanFolderLock());
    CurrentScanFolderValue() = std::move(folder);
}

void GetFolderSizes(FileSystem& fs, const std::string& path, std::int64_t& logical,
                    std::int64_t& onDisk, int mode, const StopFlag* stop) {
    const std::string folderPath = IncludeTrailingChar(path);
    if (const auto folder = fs.OpenFolder(folderPath)) {
        GetFolderSizes(*folder, folderPath, logical, onDisk, mode, stop);
    } else {
        SetCurrentScanFolder(folderPath);
    }
}

void GetFolderSizes(Folder& folder, const std::string& path, std::int64_t& logical,
                    std::int64_t& onDisk, int mode, const StopFlag* stop) {
    SetCurrentScanFolder(path);
    if (mode == kCompress || mode == kDecompress) {
        SetFolderCompression(folder, mode == kDecompress, false);
    }
    folder.List(ListDetail::kSizes, [&](const Entry& entry) {
        if (Stopped(stop)) {
            return false;
        }
        if (entry.regular) {
            logical += entry.size;
            onDisk += entry.onDisk;
        } else if (entry.folder && entry.enterable && !IsExcludedFolderName(entry.name)) {
            if (const auto sub = folder.OpenSubfolder(entry.name)) {
                std::string subPath = path;
                subPath += entry.name;
                subPath += kPathSeparator;
                GetFolderSizes(*sub, subPath, logical, onDisk, mode, stop);
            }
        }
        return true;
    });
}

}  // namespace packmeter

#include "core/utils/compression.hpp"

#include <memory>
#include <vector>

#include "core/utils/text.hpp"

namespace packmeter {

namespace {

bool Stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

bool Fail(CompressionFailure* failure, std::string path, std::string reason) {
    if (failure) {
        *failure = {std::move(path), std::move(reason)};
    }
    return false;
}

// One folder on the way down: its sub-folders to enter and its files to switch, in listing
// order, with the place reached.
struct Level {
    std::unique_ptr<Folder> owned;  // empty for the folder the walk started from
    Folder* folder = nullptr;
    std::string path;  // relative to the starting folder, with trailing separator
    struct Item {
        std::string name;
        bool subfolder = false;
    };
    std::vector<Item> items;
    std::size_t next = 0;
};

// Switches the folder itself and reads what is to be done inside it; false when the folder's
// own switch fails (nothing inside it is touched then).
bool Enter(Level& level, bool decompress, bool recurse, CompressionFailure* failure) {
    if (!level.folder->SetCompression(decompress)) {
        return Fail(failure, level.path, level.folder->LastFailure());
    }
    level.folder->List(ListDetail::kSizes, [&](const Entry& entry) {
        if (entry.folder) {
            // Links and mount points are never followed; other folders only when recursing.
            if (recurse && entry.enterable && !IsExcludedFolderName(entry.name)) {
                level.items.push_back({std::string(entry.name), true});
            }
        } else if (entry.regular) {
            level.items.push_back({std::string(entry.name), false});
        }
        // Links to files, devices, sockets and pipes hold no data of their own: passed over.
        return true;
    });
    return true;
}

}  // namespace

bool IsExcludedFolderName(std::string_view name) {
    return name == "." || name == "..";
}

PathParts SplitPath(std::string_view path) {
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.remove_suffix(1);
    }
    const auto cut = path.rfind(kPathSeparator);
    if (cut == std::string_view::npos) {
        return {"", std::string(path)};
    }
    return {std::string(path.substr(0, cut + 1)), std::string(path.substr(cut + 1))};
}

bool SetFileCompression(FileSystem& fs, const std::string& path, bool decompress,
                        CompressionFailure* failure) {
    if (!fs.CompressionAvailable()) {
        return Fail(failure, path, "not supported on this system");
    }
    const PathParts parts = SplitPath(path);
    if (parts.name.empty()) {
        return Fail(failure, path, "not a file");
    }
    const auto parent = fs.OpenFolder(parts.parent.empty() ? "." : parts.parent);
    if (!parent) {
        return Fail(failure, path, "its folder cannot be opened");
    }
    return parent->SetFileCompression(parts.name, decompress) ||
           Fail(failure, path, parent->LastFailure());
}

bool SetFolderCompression(FileSystem& fs, const std::string& path, bool decompress, bool recurse,
                          CompressionFailure* failure, const std::atomic<bool>* stop) {
    if (!fs.CompressionAvailable()) {
        return Fail(failure, "", "not supported on this system");
    }
    const auto folder = fs.OpenFolder(path);
    if (!folder) {
        return Fail(failure, "", "the folder cannot be opened");
    }
    return SetFolderCompression(*folder, decompress, recurse, failure, stop);
}

bool SetFolderCompression(Folder& folder, bool decompress, bool recurse,
                          CompressionFailure* failure, const std::atomic<bool>* stop) {
    // Depth-first with an explicit stack: a sub-folder is entered (switched and read) when its
    // turn comes in its parent's listing and finished before the parent's next entry.
    std::vector<Level> stack(1);
    stack.back().folder = &folder;
    if (!Enter(stack.back(), decompress, recurse, failure)) {
        return false;
    }
    while (!stack.empty()) {
        Level& level = stack.back();  // not used once the stack changes
        if (level.next == level.items.size()) {
            stack.pop_back();
            continue;
        }
        if (Stopped(stop)) {
            return Fail(failure, level.path, "stopped");
        }
        const Level::Item& item = level.items[level.next++];
        if (!item.subfolder) {
            if (!level.folder->SetFileCompression(item.name, decompress)) {
                return Fail(failure, level.path + item.name, level.folder->LastFailure());
            }
            continue;
        }
        Level sub;
        sub.owned = level.folder->OpenSubfolder(item.name);
        sub.path = level.path + item.name + kPathSeparator;
        // A folder whose last entry this was is done: dropping it now keeps the open folders
        // to those with entries still to come, so a long chain of folders holds only one.
        if (level.next == level.items.size()) {
            stack.pop_back();
        }
        if (!sub.owned) {
            return Fail(failure, sub.path, "the folder cannot be opened");
        }
        sub.folder = sub.owned.get();
        if (!Enter(sub, decompress, recurse, failure)) {
            return false;
        }
        stack.push_back(std::move(sub));
    }
    return true;
}

}  // namespace packmeter

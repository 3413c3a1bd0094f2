#include "core/scan/folder_walk.hpp"

#include <memory>
#include <vector>

#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

// Lists one folder for a walk: each entry to the visitor, the regular files (when the visitor
// wants them) and the sub-folders to enter collected in listing order. False when the folder
// could not be listed (and not because the walk was stopped).
bool ListOne(Folder& folder, ListDetail detail, const StopFlag* stop, TreeVisitor& visitor,
             std::vector<std::pair<std::string, std::int64_t>>* files,
             std::vector<std::string>& subfolders) {
    const bool descends = visitor.Descends();
    const bool listed = folder.List(detail, [&](const Entry& entry) {
        if (Stopped(stop)) {
            return false;
        }
        visitor.Listed(entry);
        if (entry.unreadable) {
            return true;
        }
        if (entry.regular) {
            if (files) {
                files->emplace_back(std::string(entry.name), entry.size);
            }
        } else if (descends && entry.folder && entry.enterable &&
                   !IsExcludedFolderName(entry.name)) {
            subfolders.emplace_back(entry.name);
        }
        return true;
    });
    return listed || Stopped(stop);
}

// Measures: the sizes of the files listed, what could not be read, and the folders entered for
// the progress; in the switching modes each folder is first switched with its own files.
class SizeVisitor final : public TreeVisitor {
  public:
    SizeVisitor(WalkMode mode, ScanProgress* progress, LinkedFiles& links, FolderSizes& sizes)
        : mode_(mode), progress_(progress), links_(links), sizes_(sizes) {}

    // Also sums the files new to `all` in `allSizes` (both or neither given).
    void AlsoCountIn(LinkedFiles* all, FolderSizes* allSizes) {
        all_ = all;
        allSizes_ = allSizes;
    }

    bool EnterFolder(Folder& folder, const std::string& path) override {
        if (progress_) {
            progress_->SetCurrentScanFolder(path);
        }
        if (mode_ == kCompress || mode_ == kDecompress) {
            SetFolderCompression(folder, mode_ == kDecompress, false);
        }
        return true;
    }
    void Listed(const Entry& entry) override {
        if (entry.unreadable) {
            ++sizes_.unreadable;
        } else if (entry.regular) {
            if (links_.CountOnce(entry)) {
                sizes_ += {entry.size, entry.onDisk};
                sizes_.byAlgorithm += entry.byAlgorithm;
            }
            if (all_ && all_->CountOnce(entry)) {
                *allSizes_ += {entry.size, entry.onDisk};
                allSizes_->byAlgorithm += entry.byAlgorithm;
            }
        }
    }
    bool NotListed(const std::string&) override {
        ++sizes_.unreadable;
        return true;
    }
    bool NotOpened(const std::string&) override {
        ++sizes_.unreadable;
        return true;
    }

  private:
    WalkMode mode_;
    ScanProgress* progress_;
    LinkedFiles& links_;
    FolderSizes& sizes_;
    LinkedFiles* all_ = nullptr;
    FolderSizes* allSizes_ = nullptr;
};

// Switches under the commands' rule (SwitchTree): every entry tried, every failure kept.
class SwitchVisitor final : public TreeVisitor {
  public:
    SwitchVisitor(bool decompress, SwitchListener* listener,
                  std::vector<CompressionFailure>* failures)
        : decompress_(decompress), listener_(listener), failures_(failures) {}

    bool EnterFolder(Folder& folder, const std::string& path) override {
        Switching(path);
        const bool ok = folder.SetCompression(decompress_);
        Switched(path, 0, ok, ok ? std::string() : folder.LastFailure());
        return true;
    }
    bool NotListed(const std::string& path) override {
        Fail(path, "its contents cannot be read");
        return true;
    }
    bool NotOpened(const std::string& path) override {
        Switching(path);
        Switched(path, 0, false, "the folder cannot be opened");
        return true;
    }
    bool VisitsFiles() const override { return true; }
    bool File(Folder& folder, const std::string& path, const std::string& name,
              std::int64_t size) override {
        const std::string filePath = path + name;
        Switching(filePath);
        const bool ok = folder.SetFileCompression(name, decompress_);
        Switched(filePath, size, ok, ok ? std::string() : folder.LastFailure());
        return true;
    }

  private:
    void Switching(const std::string& path) {
        if (listener_) {
            listener_->Switching(path);
        }
    }
    void Switched(const std::string& path, std::int64_t bytes, bool ok, std::string reason) {
        if (!ok) {
            Fail(path, std::move(reason));
        }
        if (listener_) {
            listener_->Switched(path, bytes, ok);
        }
    }
    void Fail(const std::string& path, std::string reason) {
        if (failures_) {
            failures_->push_back({path, std::move(reason)});
        }
    }

    bool decompress_;
    SwitchListener* listener_;
    std::vector<CompressionFailure>* failures_;
};

// Switches under SetFolderCompression's rule: the walk ends at the first failure.
class FirstFailureVisitor final : public TreeVisitor {
  public:
    FirstFailureVisitor(bool decompress, bool recurse, std::size_t rootLength,
                        CompressionFailure* failure)
        : decompress_(decompress), recurse_(recurse), rootLength_(rootLength), failure_(failure) {}

    bool EnterFolder(Folder& folder, const std::string& path) override {
        return folder.SetCompression(decompress_) || Fail(path, folder.LastFailure());
    }
    bool NotOpened(const std::string& path) override {
        return Fail(path, "the folder cannot be opened");
    }
    bool VisitsFiles() const override { return true; }
    bool File(Folder& folder, const std::string& path, const std::string& name,
              std::int64_t) override {
        return folder.SetFileCompression(name, decompress_) ||
               Fail(path + name, folder.LastFailure());
    }
    bool Descends() const override { return recurse_; }

  private:
    bool Fail(const std::string& path, std::string reason) {
        if (failure_) {
            *failure_ = {path.substr(std::min(rootLength_, path.size())), std::move(reason)};
        }
        return false;
    }

    bool decompress_;
    bool recurse_;
    std::size_t rootLength_;
    CompressionFailure* failure_;
};

}  // namespace

WalkEnd WalkTree(Folder& root, const std::string& path, ListDetail detail, const StopFlag* stop,
                 TreeVisitor& visitor) {
    struct Level {
        std::unique_ptr<Folder> owned;  // empty for the root, which the caller owns
        Folder* folder = nullptr;
        std::size_t pathLength = 0;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };
    const bool withFiles = visitor.VisitsFiles();
    std::vector<std::pair<std::string, std::int64_t>> files;
    std::string at = path;
    // Enters, lists and visits the files of one folder, named by `at`.
    const auto visit = [&](Folder& folder, std::vector<std::string>& subfolders) {
        if (!visitor.EnterFolder(folder, at)) {
            return WalkEnd::kEnded;
        }
        files.clear();
        if (!ListOne(folder, detail, stop, visitor, withFiles ? &files : nullptr, subfolders) &&
            !visitor.NotListed(at)) {
            return WalkEnd::kEnded;
        }
        for (const auto& [name, size] : files) {
            if (Stopped(stop)) {
                return WalkEnd::kStopped;
            }
            if (!visitor.File(folder, at, name, size)) {
                return WalkEnd::kEnded;
            }
        }
        return Stopped(stop) ? WalkEnd::kStopped : WalkEnd::kWhole;
    };
    std::vector<Level> stack;
    stack.push_back({nullptr, &root, at.size(), {}, 0});
    if (const WalkEnd end = visit(root, stack.back().subfolders); end != WalkEnd::kWhole) {
        return end;
    }
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.subfolders.size()) {
            stack.pop_back();
            continue;
        }
        if (Stopped(stop)) {
            return WalkEnd::kStopped;
        }
        const std::string& name = top.subfolders[top.next++];
        at.resize(top.pathLength);
        at += name;
        at += kPathSeparator;
        std::unique_ptr<Folder> sub = top.folder->OpenSubfolder(name);
        // A folder whose last sub-folder this was is done: dropping it now keeps the open
        // folders to those with sub-folders still to come (one for a long chain).
        if (top.next == top.subfolders.size()) {
            stack.pop_back();
        }
        if (!sub) {
            if (!visitor.NotOpened(at)) {
                return WalkEnd::kEnded;
            }
            continue;
        }
        Folder* const opened = sub.get();
        stack.push_back({std::move(sub), opened, at.size(), {}, 0});
        if (const WalkEnd end = visit(*opened, stack.back().subfolders); end != WalkEnd::kWhole) {
            return end;
        }
    }
    return WalkEnd::kWhole;
}

std::vector<std::string> ListForWalk(Folder& folder, const StopFlag* stop, LinkedFiles& links,
                                     FolderSizes& sizes, LinkedFiles* all, FolderSizes* allSizes) {
    SizeVisitor visitor(kMeasure, nullptr, links, sizes);
    visitor.AlsoCountIn(all, allSizes);
    std::vector<std::string> subfolders;
    if (!ListOne(folder, ListDetail::kWalk, stop, visitor, nullptr, subfolders)) {
        visitor.NotListed({});
    }
    return subfolders;
}

bool SwitchTree(Folder& root, const std::string& path, bool decompress, const StopFlag* stop,
                SwitchListener* listener, std::vector<CompressionFailure>* failures) {
    SwitchVisitor visitor(decompress, listener, failures);
    return WalkTree(root, path, ListDetail::kSizes, stop, visitor) == WalkEnd::kWhole;
}

bool SetFolderCompression(FileSystem& fs, const std::string& path, bool decompress, bool recurse,
                          CompressionFailure* failure, const StopFlag* stop) {
    const auto fail = [&](std::string reason) {
        if (failure) {
            *failure = {"", std::move(reason)};
        }
        return false;
    };
    if (!fs.CompressionAvailable()) {
        return fail("not supported on this system");
    }
    const auto folder = fs.OpenFolder(path);
    if (!folder) {
        return fail("the folder cannot be opened");
    }
    return SetFolderCompression(*folder, decompress, recurse, failure, stop);
}

bool SetFolderCompression(Folder& folder, bool decompress, bool recurse,
                          CompressionFailure* failure, const StopFlag* stop) {
    // The paths are relative to this folder: it is named by a bare separator, cut off again.
    const std::string root(1, kPathSeparator);
    FirstFailureVisitor visitor(decompress, recurse, root.size(), failure);
    switch (WalkTree(folder, root, ListDetail::kSizes, stop, visitor)) {
        case WalkEnd::kWhole:
            return true;
        case WalkEnd::kStopped:
            if (failure) {
                *failure = {"", "stopped"};
            }
            return false;
        case WalkEnd::kEnded:
            break;
    }
    return false;
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
    if (entry.links == 1 || entry.fileId == 0) {
        return true;
    }
    return CountOnce(entry.volumeId, entry.fileId);
}

bool LinkedFiles::CountOnce(std::uint64_t volumeId, std::uint64_t fileId) {
    std::lock_guard guard(lock_);
    if (!haveVolume_) {
        haveVolume_ = true;
        volume_ = volumeId;
    }
    if (volumeId == volume_ && fileId != 0) {
        return ids_.Insert(fileId);
    }
    return others_.insert({volumeId, fileId}).second;
}

std::size_t LinkedFiles::Size() const {
    std::lock_guard guard(lock_);
    return ids_.Size() + others_.size();
}

void LinkedFiles::Clear() {
    std::lock_guard guard(lock_);
    haveVolume_ = false;
    ids_ = FileIdSet();
    others_ = {};
}

std::size_t LinkedFiles::Bytes() const {
    std::lock_guard guard(lock_);
    return ids_.Bytes() + others_.size() * (sizeof(Key) + 2 * sizeof(void*));
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
    SizeVisitor visitor(mode, progress, links, sizes);
    WalkTree(folder, path, ListDetail::kWalk, stop, visitor);
    return sizes;
}

}  // namespace packmeter

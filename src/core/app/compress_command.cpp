#include "core/app/compress_command.hpp"

#include <memory>
#include <utility>

#include "core/scan/folder_walk.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

EntryFacts FactsOf(const Entry& entry) {
    // A mount point (a folder that is no link) is switched when it is named itself.
    const bool link = (entry.attributes & attr::kReparsePoint) != 0;
    EntryFacts facts;
    facts.folder = entry.folder && (entry.enterable || !link);
    facts.flagged = (entry.attributes & (attr::kCompressed | attr::kSparse)) != 0;
    facts.size = entry.size;
    facts.onDisk = entry.onDisk;
    return facts;
}

std::optional<EntryFacts> LookUp(FileSystem& fs, const std::string& folder,
                                 const std::string& name) {
    EntryFactsMap found = LookUpEntries(fs, folder, {name});
    const auto at = found.find(name);
    return at == found.end() ? std::nullopt : std::optional<EntryFacts>(at->second);
}

EntryRow RowOf(FileSystem& fs, const std::string& folder, const std::string& name,
               const EntryFacts& facts, int iconIndex) {
    std::int64_t logical = facts.size;
    std::int64_t onDisk = facts.onDisk;
    std::int64_t unreadable = 0;
    if (facts.folder) {
        const FolderSizes sizes = GetFolderSizes(fs, IncludeTrailingChar(folder + name));
        logical = sizes.logical;
        onDisk = sizes.onDisk;
        unreadable = sizes.unreadable;
    }
    EntryRow row = MakeEntryRow(name, iconIndex, facts.folder, facts.flagged, logical, onDisk);
    row.unreadable = unreadable;
    return row;
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

EntryFactsMap LookUpEntries(FileSystem& fs, const std::string& folder,
                            const std::vector<std::string>& names) {
    EntryFactsMap found;
    if (names.empty()) {
        return found;
    }
    for (const std::string& name : names) {
        found.emplace(name, EntryFacts{});
    }
    EntryFactsMap listed;
    if (const auto dir = fs.OpenFolder(IncludeTrailingChar(folder))) {
        dir->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            const std::string name(entry.name);
            if (found.contains(name)) {
                listed.emplace(name, FactsOf(entry));
            }
            return listed.size() < found.size();
        });
    }
    return listed;
}

CompressCount CountEntry(FileSystem& fs, const std::string& folder, const std::string& name,
                         const std::atomic<bool>* stop, const EntryFacts* facts) {
    std::optional<EntryFacts> looked;
    if (!facts) {
        looked = LookUp(fs, folder, name);
        if (!looked) {
            return {};
        }
        facts = &*looked;
    }
    if (!facts->folder) {
        return {1, facts->size};
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

CompressCount CountEntries(FileSystem& fs, const std::string& folder,
                           const std::vector<std::string>& names, const std::atomic<bool>* stop) {
    const EntryFactsMap facts = LookUpEntries(fs, folder, names);
    CompressCount total;
    for (const std::string& name : names) {
        const auto at = facts.find(name);
        if (at == facts.end() || Stopped(stop)) {
            continue;
        }
        const CompressCount count = CountEntry(fs, folder, name, stop, &at->second);
        total.entries += count.entries;
        total.bytes += count.bytes;
    }
    return total;
}

std::optional<EntryRow> MeasureEntry(FileSystem& fs, const std::string& folder,
                                     const std::string& name, int iconIndex) {
    const std::optional<EntryFacts> facts = LookUp(fs, folder, name);
    if (!facts) {
        return std::nullopt;
    }
    return RowOf(fs, IncludeTrailingChar(folder), name, *facts, iconIndex);
}

std::vector<std::optional<EntryRow>> MeasureEntries(FileSystem& fs, const std::string& folder,
                                                    const std::vector<std::string>& names) {
    const EntryFactsMap facts = LookUpEntries(fs, folder, names);
    std::vector<std::optional<EntryRow>> rows;
    rows.reserve(names.size());
    for (const std::string& name : names) {
        const auto at = facts.find(name);
        rows.push_back(at == facts.end()
                           ? std::nullopt
                           : std::optional<EntryRow>(
                                 RowOf(fs, IncludeTrailingChar(folder), name, at->second, -1)));
    }
    return rows;
}

CompressResult CompressEntry(FileSystem& fs, const std::string& folder, const std::string& name,
                             bool decompress, int iconIndex,
                             std::vector<CompressionFailure>* failures,
                             const std::atomic<bool>* stop, CompressListener* listener,
                             const EntryFacts* facts) {
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
    std::optional<EntryFacts> looked;
    if (!facts) {
        looked = LookUp(fs, parent, name);
    }
    const EntryFacts* found = facts ? facts : (looked ? &*looked : nullptr);
    if (found && found->folder) {
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
        const bool ok = found ? SetFileCompression(fs, path, decompress, &failure)
                              : (failure = {path, "no such file or folder"}, false);
        if (listener) {
            listener->Switched(path, found ? found->size : 0, ok);
        }
        if (!ok) {
            fail(std::move(failure.path), std::move(failure.reason));
            result.outcome = CompressOutcome::kFailed;
            return result;
        }
    }
    result.row = MeasureEntry(fs, parent, name, iconIndex);
    if (!result.row && result.outcome == CompressOutcome::kDone && !found->folder) {
        fail(path, "gone after the switch");
        result.outcome = CompressOutcome::kFailed;
    }
    return result;
}

CompressOutcome CompressEntries(FileSystem& fs, const std::string& folder,
                                const std::vector<std::string>& names, bool decompress,
                                const std::atomic<bool>* stop, CompressListener& listener,
                                std::chrono::milliseconds batch) {
    const std::string parent = IncludeTrailingChar(folder);
    const EntryFactsMap facts = LookUpEntries(fs, parent, names);
    std::unique_ptr<Folder> dir;
    // Files switched whose rows are still to be measured, by index.
    std::vector<std::size_t> pending;
    auto measuredAt = std::chrono::steady_clock::now();
    // Measures the pending rows; false when a switched file is gone, which ends the command.
    const auto measure = [&] {
        bool present = true;
        if (!pending.empty()) {
            std::vector<std::string> pendingNames;
            for (const std::size_t index : pending) {
                pendingNames.push_back(names[index]);
            }
            std::vector<std::optional<EntryRow>> rows = MeasureEntries(fs, parent, pendingNames);
            for (std::size_t k = 0; k < pending.size(); ++k) {
                if (rows[k]) {
                    listener.Measured(pending[k], std::move(*rows[k]));
                } else {
                    listener.Failed({parent + names[pending[k]], "gone after the switch"}, false);
                    present = false;
                }
            }
            pending.clear();
        }
        measuredAt = std::chrono::steady_clock::now();
        return present;
    };
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (Stopped(stop)) {
            measure();
            return CompressOutcome::kStopped;
        }
        listener.EntryStarted(i);
        const auto at = facts.find(names[i]);
        const EntryFacts* found = at == facts.end() ? nullptr : &at->second;
        if (found && found->folder) {
            if (!measure()) {
                return CompressOutcome::kFailed;
            }
            std::vector<CompressionFailure> failures;
            CompressResult result = CompressEntry(fs, parent, names[i], decompress, -1, &failures,
                                                  stop, &listener, found);
            for (const CompressionFailure& failure : failures) {
                listener.Failed(failure, true);
            }
            if (result.row) {
                listener.Measured(i, std::move(*result.row));
            }
            if (result.outcome != CompressOutcome::kDone) {
                return result.outcome;
            }
            continue;
        }
        const std::string path = parent + names[i];
        listener.Switching(path);
        CompressionFailure failure{path, {}};
        bool ok = false;
        if (!found) {
            failure.reason = "no such file or folder";
        } else if (!fs.CompressionAvailable()) {
            failure.reason = "not supported on this system";
        } else if (!dir && !(dir = fs.OpenFolder(parent))) {
            failure.reason = "its folder cannot be opened";
        } else {
            // One open folder for all its files: the back end prepares a folder once (a sync
            // before the first rewrite, the recovery of a killed one), not once per file.
            ok = dir->SetFileCompression(names[i], decompress);
            failure.reason = ok ? std::string() : dir->LastFailure();
        }
        listener.Switched(path, found ? found->size : 0, ok);
        if (!ok) {
            measure();
            listener.Failed(failure, false);
            return CompressOutcome::kFailed;
        }
        pending.push_back(i);
        if (std::chrono::steady_clock::now() - measuredAt >= batch && !measure()) {
            return CompressOutcome::kFailed;
        }
    }
    return measure() ? CompressOutcome::kDone : CompressOutcome::kFailed;
}

}  // namespace packmeter

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

// Counts what a switch of a tree goes through: each folder (also one that cannot be opened,
// which the switch reports) and each file with its bytes.
class CountVisitor final : public TreeVisitor {
  public:
    explicit CountVisitor(CompressCount& count) : count_(count) {}
    bool EnterFolder(Folder&, const std::string&) override {
        ++count_.entries;
        return true;
    }
    bool NotOpened(const std::string&) override {
        ++count_.entries;
        return true;
    }
    void Listed(const Entry& entry) override {
        if (entry.regular && !entry.unreadable) {
            ++count_.entries;
            count_.bytes += entry.size;
        }
    }

  private:
    CompressCount& count_;
};

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
    if (const auto root = fs.OpenFolder(path)) {
        CountVisitor visitor(count);
        WalkTree(*root, path, ListDetail::kSizes, stop, visitor);
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
        } else if (!SwitchTree(*root, folderPath, decompress, stop, listener, failures)) {
            result.outcome = CompressOutcome::kStopped;
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

namespace {

// CompressEntries, and with `insideTree` the entries of a folder's own tree, which follow
// SwitchTree's failure rule: a file that cannot be switched (or is gone afterwards) is a
// failure inside the tree, and the command goes on.
CompressOutcome SwitchEntries(FileSystem& fs, const std::string& folder,
                              const std::vector<std::string>& names, bool decompress,
                              const std::atomic<bool>* stop, CompressListener& listener,
                              std::chrono::milliseconds batch, bool insideTree) {
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
                    listener.Failed({parent + names[pending[k]], "gone after the switch"},
                                    insideTree);
                    present = insideTree;
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
                // A tree switched only in part (cancelled midway, or with entries that could not
                // be switched) carries the new mark on contents that are partly still plain: it
                // is partly compressed, whatever its own mark says.
                if (!decompress && result.row->state == CompressionState::kCompressed &&
                    (result.outcome == CompressOutcome::kStopped || !failures.empty())) {
                    result.row->state = CompressionState::kPartly;
                }
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
        if (!ok && insideTree) {
            listener.Failed(failure, true);
            continue;
        }
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

}  // namespace

CompressOutcome CompressEntries(FileSystem& fs, const std::string& folder,
                                const std::vector<std::string>& names, bool decompress,
                                const std::atomic<bool>* stop, CompressListener& listener,
                                std::chrono::milliseconds batch) {
    return SwitchEntries(fs, folder, names, decompress, stop, listener, batch, false);
}

std::vector<std::string> TreeEntryNames(FileSystem& fs, const std::string& folder) {
    std::vector<std::string> names;
    if (const auto dir = fs.OpenFolder(IncludeTrailingChar(folder))) {
        dir->List(ListDetail::kSizes, [&](const Entry& entry) {
            if (!entry.unreadable && (entry.regular || (entry.folder && entry.enterable &&
                                                        !IsExcludedFolderName(entry.name)))) {
                names.emplace_back(entry.name);
            }
            return true;
        });
    }
    return names;
}

CompressOutcome CompressFolderTree(FileSystem& fs, const std::string& folder,
                                   const std::vector<std::string>& names, bool decompress,
                                   const std::atomic<bool>* stop, CompressListener& listener,
                                   std::chrono::milliseconds batch) {
    const std::string path = IncludeTrailingChar(folder);
    if (Stopped(stop)) {
        return CompressOutcome::kStopped;
    }
    listener.Switching(path);
    CompressionFailure failure{path, {}};
    bool ok = false;
    if (!fs.CompressionAvailable()) {
        failure.reason = "not supported on this system";
    } else if (const auto dir = fs.OpenFolder(path); !dir) {
        failure.reason = "the folder cannot be opened";
    } else {
        ok = dir->SetCompression(decompress);
        failure.reason = ok ? std::string() : dir->LastFailure();
    }
    listener.Switched(path, 0, ok);
    if (!ok) {
        // Without the platform's calls nothing inside can be switched either.
        listener.Failed(failure, fs.CompressionAvailable());
        if (!fs.CompressionAvailable()) {
            return CompressOutcome::kFailed;
        }
    }
    return SwitchEntries(fs, path, names, decompress, stop, listener, batch, true);
}

}  // namespace packmeter

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/utils/compression.hpp"

namespace packmeter {

// What a compression command hears while it switches: every switch (SwitchListener), and
// for CompressEntries each entry's start, row and failures. Every call comes on the switching
// thread.
class CompressListener : public SwitchListener {
  public:
    // CompressEntries: the entry `index` of its names is next.
    virtual void EntryStarted(std::size_t /*index*/) {}
    // CompressEntries: the row of the entry `index`, measured after its switch.
    virtual void Measured(std::size_t /*index*/, EntryRow /*row*/) {}
    // CompressEntries: an entry that could not be switched; `insideTree` for one below a
    // selected folder (the command goes on), false for a selected file (the command ends).
    virtual void Failed(const CompressionFailure& /*failure*/, bool /*insideTree*/) {}
};

// What a listing says about an entry, as the command needs it.
struct EntryFacts {
    bool folder = false;  // switched and measured as a folder (a mount point named itself, too)
    bool flagged = false;
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
};
using EntryFactsMap = std::unordered_map<std::string, EntryFacts>;

// The facts of the entries `names` of `folder`, from one listing; names that are not listed
// are missing.
EntryFactsMap LookUpEntries(FileSystem& fs, const std::string& folder,
                            const std::vector<std::string>& names);

// How a CompressEntry ended.
enum class CompressOutcome {
    kDone,     // switched; failures inside a tree are listed, not fatal
    kFailed,   // the file could not be switched or found again: the command ends here
    kStopped,  // `stop` was set before every file was switched
};

struct CompressResult {
    CompressOutcome outcome = CompressOutcome::kDone;
    // The entry's row measured from the file system afterwards, as a scan would show it; set
    // whenever the entry may have changed and can still be found.
    std::optional<EntryRow> row;
};

// Entries and bytes that a switch of the same entry will go through: files and folders, and
// the files' logical sizes. Stops early (with what it has) once `stop` is set.
struct CompressCount {
    std::int64_t entries = 0;
    std::int64_t bytes = 0;
};
CompressCount CountEntry(FileSystem& fs, const std::string& folder, const std::string& name,
                         const std::atomic<bool>* stop = nullptr,
                         const EntryFacts* facts = nullptr);
// The same for several entries of one folder, which is listed once.
CompressCount CountEntries(FileSystem& fs, const std::string& folder,
                           const std::vector<std::string>& names,
                           const std::atomic<bool>* stop = nullptr);

// The row of the entry `name` in `folder` measured now, as a scan makes it (state from the
// entry's own flag and its sizes; a folder over its whole tree); nothing when it is gone.
std::optional<EntryRow> MeasureEntry(FileSystem& fs, const std::string& folder,
                                     const std::string& name, int iconIndex = -1);
// The same for several entries of one folder, which is listed once.
std::vector<std::optional<EntryRow>> MeasureEntries(FileSystem& fs, const std::string& folder,
                                                    const std::vector<std::string>& names);

// Switches compression of the entry `name` in `folder` (trailing separator) as the compression
// command does: a folder with its whole tree (SwitchTree: each folder switched, then its files,
// then its sub-folders in listing order), a file directly. A mount point or subvolume root
// named here is switched as a folder; mount points met inside a tree are not entered.
//
// A file named here that cannot be switched ends the command (kFailed). Inside a tree every
// entry is tried, under SwitchTree's failure rule: each one that cannot be switched (a folder
// that cannot be opened too) goes to `failures` (full path and reason) and the walk goes on. `stop`
// is read before every entry, so a file is never left half switched. The row is measured again
// afterwards, also after a stop in the middle of a tree. `facts`, when given, is what a listing
// said about the entry before (it is not listed again).
CompressResult CompressEntry(FileSystem& fs, const std::string& folder, const std::string& name,
                             bool decompress, int iconIndex = -1,
                             std::vector<CompressionFailure>* failures = nullptr,
                             const std::atomic<bool>* stop = nullptr,
                             CompressListener* listener = nullptr,
                             const EntryFacts* facts = nullptr);

// The command over the entries `names` of `folder`, in that order, as CompressEntry switches
// each, until the first file that cannot be switched or `stop`. The folder is listed once
// before and, for the rows of files, once per `batch` of time (and before each folder and at
// the end) rather than once per file: each listing costs as much as the whole folder, and a
// command over many files of a large folder would spend its time listing. The listener hears
// of every switch, row and failure.
CompressOutcome CompressEntries(FileSystem& fs, const std::string& folder,
                                const std::vector<std::string>& names, bool decompress,
                                const std::atomic<bool>* stop, CompressListener& listener,
                                std::chrono::milliseconds batch = std::chrono::milliseconds(250));

// The entries of `folder` that a switch of its tree goes through, in listing order: its
// regular files and the folders it enters (no links, mount points, devices).
std::vector<std::string> TreeEntryNames(FileSystem& fs, const std::string& folder);

// The command over the folder `folder` itself: its own mark first, then its entries `names`
// (TreeEntryNames) as CompressEntries switches them, but all of them under SwitchTree's
// failure rule, since they are the folder's own tree: a file that cannot be switched is a
// failure inside the tree and the command goes on. The listener's indexes are those of
// `names`. This is the path label's command, which switches the shown folder, and the
// command-line tool's for a root, which lies in no folder that could list it.
CompressOutcome CompressFolderTree(
    FileSystem& fs, const std::string& folder, const std::vector<std::string>& names,
    bool decompress, const std::atomic<bool>* stop, CompressListener& listener,
    std::chrono::milliseconds batch = std::chrono::milliseconds(250));

}  // namespace packmeter

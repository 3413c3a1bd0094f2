#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"
#include "core/utils/compression.hpp"

namespace packmeter {

// What a compression command hears while it switches one entry; every call comes on the
// switching thread.
class CompressListener {
  public:
    virtual ~CompressListener() = default;
    // `path` (a file, or a folder with trailing separator) is about to be switched.
    virtual void Switching(const std::string& path) = 0;
    // `path` has been switched, or could not be (`ok` false); `bytes` is a file's logical
    // size, 0 for a folder.
    virtual void Switched(const std::string& path, std::int64_t bytes, bool ok) = 0;
};

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
                         const std::atomic<bool>* stop = nullptr);

// The row of the entry `name` in `folder` measured now, as a scan makes it (state from the
// entry's own flag and its sizes; a folder over its whole tree); nothing when it is gone.
std::optional<EntryRow> MeasureEntry(FileSystem& fs, const std::string& folder,
                                     const std::string& name, int iconIndex = -1);

// Switches compression of the entry `name` in `folder` (trailing separator) as the compression
// command does: a folder with its whole tree (each folder switched, then its files, then its
// sub-folders in listing order), a file directly. A mount point or subvolume root named here
// is switched as a folder; mount points met inside a tree are not entered.
//
// A file named here that cannot be switched ends the command (kFailed). Inside a tree every
// entry is tried: each one that cannot be switched goes to `failures` (full path and reason)
// and the walk goes on. `stop` is read before every entry, so a file is never left half
// switched. The row is measured again afterwards, also after a stop in the middle of a tree.
CompressResult CompressEntry(FileSystem& fs, const std::string& folder, const std::string& name,
                             bool decompress, int iconIndex = -1,
                             std::vector<CompressionFailure>* failures = nullptr,
                             const std::atomic<bool>* stop = nullptr,
                             CompressListener* listener = nullptr);

}  // namespace packmeter

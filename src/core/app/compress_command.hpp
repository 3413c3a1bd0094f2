#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/utils/compression.hpp"

namespace packmeter {

// Switches compression of the entry `name` in `folder` (trailing separator) as the compression
// command does: a folder through the walk (each folder switched with its own files, then
// measured), a file directly. A mount point or subvolume root named here is switched as a
// folder; mount points met inside a tree are not entered. Returns the updated row, or nothing
// when the file could not be switched or found again, which ends the command, or when `stop`
// was set before the walk ended.
//
// `failures`, when given, receives each entry that could not be switched, by full path, with
// its reason: the file itself, or inside a tree the first failure of each folder (which leaves
// the rest of that folder's files as they were; the walk goes on with its sub-folders). The
// walk keeps its place in a list of its own, so the depth of the tree does not matter.
// `progress`, when given, names the folder being switched.
std::optional<EntryRow> CompressEntry(FileSystem& fs, const std::string& folder,
                                      const std::string& name, bool decompress, int iconIndex = -1,
                                      std::vector<CompressionFailure>* failures = nullptr,
                                      const std::atomic<bool>* stop = nullptr,
                                      ScanProgress* progress = nullptr);

}  // namespace packmeter

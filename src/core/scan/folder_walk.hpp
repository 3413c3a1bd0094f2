#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/fs/filesystem.hpp"

namespace packmeter {

// The folder (with trailing separator) that GetFolderSizes entered last, program-wide; empty at
// start. Written by whichever thread walks, read by the status timer; guarded by its own lock.
std::string CurrentScanFolder();
void SetCurrentScanFolder(std::string folder);

// Walk modes: measure only, or switch compression on (1) or off (-1) in every folder entered.
inline constexpr int kMeasure = 0;
inline constexpr int kCompress = 1;
inline constexpr int kDecompress = -1;

using StopFlag = std::atomic<bool>;

// Adds the logical and on-disk sizes of every file below `path` to the two totals. With mode 1
// or -1 each folder is switched (with its own files) before it is measured; the results of the
// switches are ignored. When `stop` is set the walk is abandoned at the next entry.
void GetFolderSizes(FileSystem& fs, const std::string& path, std::int64_t& logical,
                    std::int64_t& onDisk, int mode, const StopFlag* stop = nullptr);
// The same for a folder already open; `path` names it (with trailing separator) for the status.
void GetFolderSizes(Folder& folder, const std::string& path, std::int64_t& logical,
                    std::int64_t& onDisk, int mode, const StopFlag* stop = nullptr);

}  // namespace packmeter

#pragma once

// What a Properties dialog shows of one file or folder, read from the file system.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"
#include "core/scan/folder_walk.hpp"

namespace packmeter::linuxfs {

struct EntryProperties {
    std::string error;  // why nothing could be read; empty when the rest is filled in
    bool folder = false;
    // A folder's sizes are those of every file below it.
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
    std::int64_t unreadable = 0;  // entries below a folder that could not be read
    AlgorithmSplit byAlgorithm;   // the bytes by compression algorithm, where known
    CompressionState state = CompressionState::kPlain;
    bool flagged = false;  // marked for compression (new data is stored compressed)
    std::string fileSystem;
    std::string owner;  // user name, or the number when it has none
    std::string group;
    std::uint32_t mode = 0;   // the permission bits, with set-id and sticky
    std::string permissions;  // "rwxr-xr-x" as ls shows them
    std::timespec modified{};
    std::timespec accessed{};
    std::timespec changed{};
    std::optional<std::timespec> created;  // where the file system keeps it
};

// Reads the properties of `path` (links not followed); a folder's tree is measured, which
// takes as long as a scan of it and ends early when `stop` is set.
EntryProperties ReadEntryProperties(FileSystem& fs, const std::string& path,
                                    const StopFlag* stop = nullptr);

// "rwxr-x---" and the like, with s/S and t/T for the set-id and sticky bits.
std::string PermissionText(std::uint32_t mode);

}  // namespace packmeter::linuxfs

#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/linux/scan/btrfs_extents.hpp"
#include "platform/linux/scan/dir_reader.hpp"
#include "platform/linux/scan/volume.hpp"

namespace packmeter::linuxfs {

// What one statx tells about a directory entry, and what the measuring step adds to it.
struct StatRecord {
    std::string_view name;
    unsigned char dirType = 0;  // DT_* from the listing
    bool stated = false;        // statx succeeded; the fields below are valid
    bool vanished = false;      // the name went away between listing and statx
    bool skipped = false;       // a folder left unstated on purpose: the walk opens it next
    std::uint32_t mode = 0;     // S_IFMT bits
    std::uint64_t inode = 0;
    std::uint32_t links = 1;
    std::uint64_t size = 0;
    std::uint64_t blocks = 0;       // 512-byte units
    bool markedCompressed = false;  // STATX_ATTR_COMPRESSED, as the kernel reports it
    MountIdentity where;
    bool linkToFolder = false;  // a symbolic link whose target is a folder

    // Measured afterwards.
    std::uint64_t occupied = 0;  // bytes the data takes on disk
    bool compressedData = false;
    // btrfs, when its extents were read: the bytes by compression type (and preallocated).
    bool extentsKnown = false;
    std::array<ExtentFigures, kExtentKinds> byKind{};
    bool sparse = false;
    std::uint32_t ntfsAttrib = 0;

    bool IsRegular() const;
    bool IsFolder() const;
    bool IsLink() const;
};

// Fills `record` from one statx of `name` relative to the open folder `dirFd`. Links are not
// followed; with `linkTargets` a link's target is looked at to tell whether it is a folder
// (only rows need that: the walk below them passes links over either way). Mounts are not
// triggered.
void StatEntry(int dirFd, const DirName& name, const FolderVolume& volume, bool linkTargets,
               StatRecord& record);

// True when the regular file `name` of `dirFd` has a hole before its end. A file that cannot be
// opened to ask counts as having one (its allocation is already known to be below its size).
bool HasHole(int dirFd, std::string_view name, std::uint64_t size);

}  // namespace packmeter::linuxfs

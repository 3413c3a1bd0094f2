#pragma once

#include <cstdint>
#include <optional>

#include "core/fs/filesystem.hpp"

namespace packmeter::linuxfs {

enum class VolumeKind { kOther, kBtrfs, kNtfs3g, kNtfs3, kF2fs };

// Where a file or folder lies: its mount (as in /proc/self/mountinfo) and its device.
struct MountIdentity {
    std::uint64_t mountId = 0;
    bool hasMountId = false;
    std::uint32_t devMajor = 0;
    std::uint32_t devMinor = 0;

    bool SameAs(const MountIdentity& other) const {
        return devMajor == other.devMajor && devMinor == other.devMinor &&
               (!hasMountId || !other.hasMountId || mountId == other.mountId);
    }
};

// What a folder knows about the file system it lies on. Sub-folders on the same mount and
// device copy it from their parent, so it is worked out once per walk.
struct FolderVolume {
    VolumeKind kind = VolumeKind::kOther;
    MountIdentity where;
    // A FUSE file system: cached attributes may be stale after our own writes.
    bool fuse = false;
    // Per-file compression can be switched here.
    bool compressible = false;
    // btrfs: the extent tree may be searched (needs CAP_SYS_ADMIN).
    bool extentSearch = false;
    // btrfs without that privilege: the measuring helper reads the extents instead.
    bool measureHelper = false;
};

std::optional<MountIdentity> IdentifyMount(int fd);

// Works out the file system of the open folder `fd` (a readable descriptor, not O_PATH).
FolderVolume DetectVolume(int fd, const MountIdentity& where);

// The file-system name and compression support for the window's volume line, found through
// the mount of `fd` in /proc/self/mountinfo.
VolumeInfo DescribeVolume(int fd);

}  // namespace packmeter::linuxfs

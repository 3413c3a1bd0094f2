#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace packmeter::linuxfs {

// The kinds of extent data btrfs stores: its compression types (none, zlib, lzo, zstd, as the
// extent item numbers them) and preallocated space, which is counted apart.
inline constexpr std::size_t kExtentKinds = 5;
inline constexpr std::size_t kPreallocKind = 4;

// A file's bytes of one kind: on disk (each disk extent once, inline data as stored), before
// compression (each extent once) and referenced (every reference, holes left out).
struct ExtentFigures {
    std::uint64_t disk = 0;
    std::uint64_t uncompressed = 0;
    std::uint64_t referenced = 0;
    bool operator==(const ExtentFigures&) const = default;
};

// The space a btrfs file's data takes, from its EXTENT_DATA items in the subvolume tree.
struct FileExtentUsage {
    // Each distinct disk extent counted once (a file may reference parts of one extent several
    // times), plus the bytes of inline data stored in the tree itself.
    std::uint64_t diskBytes = 0;
    // Some of the data lies in compressed extents.
    bool compressed = false;
    // The same bytes by kind; `diskBytes` is the sum of their `disk`.
    std::array<ExtentFigures, kExtentKinds> byKind{};
    bool operator==(const FileExtentUsage&) const = default;
};

enum class ExtentSearch { kDone, kNotPermitted, kFailed };

// Looks up the extents of the files with inode numbers `inodes` (ascending, no duplicates) in
// the subvolume of the open file or folder `fd`; `usage[i]` receives the figures of `inodes[i]`.
// Inodes close together are covered by one search of the inode range, distant ones by
// separate searches. The search needs CAP_SYS_ADMIN: kNotPermitted without it.
ExtentSearch SearchFileExtents(int fd, std::span<const std::uint64_t> inodes,
                               std::span<FileExtentUsage> usage);

// Whether this process may search the extent tree of the btrfs volume of `fd`.
bool ExtentSearchPermitted(int fd);

}  // namespace packmeter::linuxfs

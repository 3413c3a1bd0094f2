#include "platform/linux/scan/btrfs_compression.hpp"

#include <linux/btrfs.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace packmeter::linuxfs {

namespace {

// Defrag flags newer than the kernel headers this is built with (6.18 accepts them).
constexpr std::uint64_t kDefragCompress = 1;    // BTRFS_DEFRAG_RANGE_COMPRESS
constexpr std::uint64_t kDefragStartIo = 2;     // BTRFS_DEFRAG_RANGE_START_IO
constexpr std::uint64_t kDefragLevel = 4;       // BTRFS_DEFRAG_RANGE_COMPRESS_LEVEL
constexpr std::uint64_t kDefragNoCompress = 8;  // BTRFS_DEFRAG_RANGE_NOCOMPRESS
constexpr std::uint32_t kCompressZlib = 1;      // BTRFS_COMPRESS_ZLIB
constexpr std::uint32_t kCompressLzo = 2;       // BTRFS_COMPRESS_LZO
constexpr std::uint32_t kCompressZstd = 3;      // BTRFS_COMPRESS_ZSTD

constexpr const char* kCompressionProperty = "btrfs.compression";

// The compression property's value: "zstd", "lzo", "zlib", with a level "zstd:5".
std::string PropertyValue(const CompressionChoice& choice) {
    std::string value = choice.algorithm == CompressionAlgorithm::kLzo    ? "lzo"
                        : choice.algorithm == CompressionAlgorithm::kZlib ? "zlib"
                                                                          : "zstd";
    if (choice.level > 0 && choice.algorithm != CompressionAlgorithm::kLzo) {
        value += ':' + std::to_string(choice.level);
    }
    return value;
}

}  // namespace

bool SetBtrfsMark(int fd, bool decompress, const CompressionChoice& choice) {
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        return false;
    }
    const int wanted =
        decompress ? (flags & ~FS_COMPR_FL) | FS_NOCOMP_FL : (flags | FS_COMPR_FL) & ~FS_NOCOMP_FL;
    if (wanted == flags || ::ioctl(fd, FS_IOC_SETFLAGS, &wanted) == 0) {
        if (!decompress) {
            // The flag alone names the mount's algorithm, or zlib on a mount without one; new
            // data should be compressed like the rewritten data. Needs write permission, which
            // the owner may lack: then the flag's algorithm stays.
            const std::string value = PropertyValue(choice);
            ::fsetxattr(fd, kCompressionProperty, value.data(), value.size(), 0);
        }
        return true;
    }
    if (errno != EPERM && errno != EACCES) {
        return false;  // EINVAL: a NOCOW file, which cannot be compressed
    }
    // Changing inode flags needs ownership; the compression property needs write permission
    // instead, so a writable file of someone else can still be switched.
    const std::string value = decompress ? "none" : PropertyValue(choice);
    return ::fsetxattr(fd, kCompressionProperty, value.data(), value.size(), 0) == 0;
}

bool RewriteBtrfsFile(int fd, bool decompress, const CompressionChoice& choice) {
    btrfs_ioctl_defrag_range_args args{};
    args.start = 0;
    args.len = std::numeric_limits<std::uint64_t>::max();
    args.flags = kDefragStartIo | (decompress ? kDefragNoCompress : kDefragCompress);
    args.compress_type = choice.algorithm == CompressionAlgorithm::kLzo    ? kCompressLzo
                         : choice.algorithm == CompressionAlgorithm::kZlib ? kCompressZlib
                                                                           : kCompressZstd;
    if (!decompress && choice.level > 0 && choice.algorithm != CompressionAlgorithm::kLzo) {
        // The level rides in the second byte of the type, announced by its own flag.
        args.flags |= kDefragLevel;
        args.compress_type |= static_cast<std::uint32_t>(choice.level) << 8;
    }
    // An O_RDONLY descriptor suffices (and works for a running program, where O_RDWR gives
    // ETXTBSY); the kernel checks write permission on the inode.
    const bool rewritten = ::ioctl(fd, BTRFS_IOC_DEFRAG_RANGE, &args) == 0;
    const int error = errno;
    const std::optional<bool> compressed = HasCompressedExtents(fd);
    if (decompress) {
        // A kernel without NOCOMPRESS refuses the call; the file may still hold no
        // compressed data, which is all that was asked.
        if (compressed.has_value() && !*compressed) {
            return true;
        }
        // Rewritten and still compressed: data written meanwhile by another process (errno 0
        // says so); otherwise the call's own error.
        if (compressed.has_value()) {
            errno = rewritten ? 0 : error;
        }
        return false;
    }
    errno = error;
    return rewritten;
}

std::optional<bool> HasCompressedExtents(int fd) {
    constexpr std::uint32_t kBatch = 256;
    std::vector<std::uint64_t> words((sizeof(fiemap) + kBatch * sizeof(fiemap_extent)) /
                                     sizeof(std::uint64_t));
    auto* map = reinterpret_cast<fiemap*>(words.data());
    std::uint64_t start = 0;
    // The first call writes out dirty data and waits for it, so the map shows the extents
    // a rewrite just produced.
    std::uint32_t flags = FIEMAP_FLAG_SYNC;
    for (;;) {
        std::memset(map, 0, sizeof(fiemap));
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_flags = flags;
        map->fm_extent_count = kBatch;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
            return std::nullopt;
        }
        flags = 0;
        if (map->fm_mapped_extents == 0) {
            return false;
        }
        for (std::uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& extent = map->fm_extents[i];
            if (extent.fe_flags & FIEMAP_EXTENT_ENCODED) {
                return true;
            }
            if (extent.fe_flags & FIEMAP_EXTENT_LAST) {
                return false;
            }
        }
        const fiemap_extent& last = map->fm_extents[map->fm_mapped_extents - 1];
        start = last.fe_logical + last.fe_length;
    }
}

}  // namespace packmeter::linuxfs

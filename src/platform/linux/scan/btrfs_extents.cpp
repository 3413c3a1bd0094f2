#include "platform/linux/scan/btrfs_extents.hpp"

#include <endian.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace packmeter::linuxfs {

namespace {

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

// Files further apart than this many inode numbers are searched separately: a range search
// returns every item of every inode inside the range, and walking another inode's few items is
// cheaper than a second search, but not a whole foreign folder's.
constexpr std::uint64_t kMaxInodeGap = 16;

// No item is larger than the largest tree block.
constexpr std::size_t kLargestItem = 64 * 1024;

// Room for the items of one search call: a folder's files in one call, and whenever less than
// the largest item plus its header came back, the kernel stopped at the end of the range, not
// for want of room, so no second call is needed to find that out.
constexpr std::size_t kResultBytes = 128 * 1024;

// Offsets inside struct btrfs_file_extent_item, which is packed and little-endian.
constexpr std::size_t kCompressionAt = offsetof(btrfs_file_extent_item, compression);
constexpr std::size_t kTypeAt = offsetof(btrfs_file_extent_item, type);
constexpr std::size_t kDiskBytenrAt = offsetof(btrfs_file_extent_item, disk_bytenr);
constexpr std::size_t kDiskNumBytesAt = offsetof(btrfs_file_extent_item, disk_num_bytes);
constexpr std::size_t kNumBytesAt = offsetof(btrfs_file_extent_item, num_bytes);
constexpr std::size_t kRamBytesAt = offsetof(btrfs_file_extent_item, ram_bytes);
static_assert(kRamBytesAt + sizeof(std::uint64_t) <= kTypeAt);

// One disk extent a file references.
struct Extent {
    std::uint64_t bytenr;
    std::uint64_t diskBytes;
    std::uint64_t ramBytes;
    unsigned char kind;
    bool operator<(const Extent& other) const { return bytenr < other.bytenr; }
};

std::uint64_t Le64(const unsigned char* at) {
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return le64toh(value);
}

// The search arguments followed by the result buffer, 8-byte aligned. Not zeroed: the kernel
// writes only what it returns, and clearing 64 KiB per folder would show in the walk's time.
class SearchBuffer {
  public:
    SearchBuffer()
        : words_(std::make_unique_for_overwrite<std::uint64_t[]>(
              (sizeof(btrfs_ioctl_search_args_v2) + kResultBytes) / sizeof(std::uint64_t))) {}
    btrfs_ioctl_search_args_v2* Args() {
        return reinterpret_cast<btrfs_ioctl_search_args_v2*>(words_.get());
    }

  private:
    std::unique_ptr<std::uint64_t[]> words_;
};

// Sums one file's extents as they arrive, counting each disk extent once.
class FileTally {
  public:
    void AddInline(std::size_t kind, std::uint64_t stored, std::uint64_t bytes) {
        usage_.byKind[kind].disk += stored;
        usage_.byKind[kind].uncompressed += bytes;
        usage_.byKind[kind].referenced += bytes;
        usage_.diskBytes += stored;
        usage_.compressed = usage_.compressed || kind != 0;
    }
    void AddExtent(std::size_t kind, const Extent& extent, std::uint64_t referenced) {
        extents_.push_back(extent);
        usage_.byKind[kind].referenced += referenced;
        usage_.compressed = usage_.compressed || (kind != 0 && kind != kPreallocKind);
    }
    FileExtentUsage Finish() {
        std::sort(extents_.begin(), extents_.end());
        for (std::size_t i = 0; i < extents_.size(); ++i) {
            if (i == 0 || extents_[i].bytenr != extents_[i - 1].bytenr) {
                ExtentFigures& figures = usage_.byKind[extents_[i].kind];
                figures.disk += extents_[i].diskBytes;
                figures.uncompressed += extents_[i].ramBytes;
                usage_.diskBytes += extents_[i].diskBytes;
            }
        }
        extents_.clear();
        return std::exchange(usage_, FileExtentUsage{});
    }

  private:
    std::vector<Extent> extents_;
    FileExtentUsage usage_;
};

void AddItem(FileTally& tally, const unsigned char* item, std::uint32_t length) {
    if (length <= kTypeAt) {
        return;
    }
    const unsigned compression = item[kCompressionAt];
    if (compression >= kPreallocKind) {
        return;  // a type this program does not know: left out rather than misfiled
    }
    const std::uint64_t ramBytes = Le64(item + kRamBytesAt);
    if (item[kTypeAt] == BTRFS_FILE_EXTENT_INLINE) {
        // Inline data follows the header in place of the disk fields.
        tally.AddInline(compression, length > kDiskBytenrAt ? length - kDiskBytenrAt : 0, ramBytes);
        return;
    }
    if (length < kNumBytesAt + sizeof(std::uint64_t)) {
        return;
    }
    const std::uint64_t bytenr = Le64(item + kDiskBytenrAt);
    if (bytenr != 0) {  // 0: a hole
        const std::size_t kind =
            item[kTypeAt] == BTRFS_FILE_EXTENT_PREALLOC ? kPreallocKind : compression;
        tally.AddExtent(kind,
                        Extent{bytenr, Le64(item + kDiskNumBytesAt), ramBytes,
                               static_cast<unsigned char>(kind)},
                        Le64(item + kNumBytesAt));
    }
}

// Searches the EXTENT_DATA items of the inodes first..last and hands each wanted inode's
// figures to `usage` at its index. The range also returns the other items of every inode in
// it; they are skipped.
ExtentSearch SearchRange(int fd, SearchBuffer& buffer, std::span<const std::uint64_t> inodes,
                         std::span<FileExtentUsage> usage) {
    btrfs_ioctl_search_args_v2* args = buffer.Args();
    btrfs_ioctl_search_key& key = args->key;
    key = {};
    key.tree_id = 0;  // the subvolume of fd
    key.min_objectid = inodes.front();
    key.max_objectid = inodes.back();
    key.min_type = BTRFS_EXTENT_DATA_KEY;
    key.max_type = BTRFS_EXTENT_DATA_KEY;
    key.min_offset = 0;
    key.max_offset = kMax64;
    key.min_transid = 0;
    key.max_transid = kMax64;

    FileTally tally;
    std::size_t index = 0;  // the wanted inode being gathered
    bool gathering = false;
    const auto finish = [&] {
        if (gathering) {
            usage[index] = tally.Finish();
            gathering = false;
        }
    };
    for (;;) {
        key.nr_items = std::numeric_limits<std::uint32_t>::max();
        args->buf_size = kResultBytes;
        if (::ioctl(fd, BTRFS_IOC_TREE_SEARCH_V2, args) != 0) {
            return errno == EPERM ? ExtentSearch::kNotPermitted : ExtentSearch::kFailed;
        }
        if (key.nr_items == 0) {
            break;
        }
        const unsigned char* at = reinterpret_cast<const unsigned char*>(args->buf);
        btrfs_ioctl_search_header header{};
        for (std::uint32_t n = 0; n < key.nr_items; ++n) {
            std::memcpy(&header, at, sizeof header);
            const unsigned char* item = at + sizeof header;
            at = item + header.len;
            if (header.type != BTRFS_EXTENT_DATA_KEY) {
                continue;
            }
            if (!gathering || inodes[index] != header.objectid) {
                finish();
                while (index < inodes.size() && inodes[index] < header.objectid) {
                    ++index;
                }
                if (index == inodes.size()) {
                    return ExtentSearch::kDone;
                }
                if (inodes[index] != header.objectid) {
                    continue;  // an inode of the range that was not asked for
                }
                gathering = true;
            }
            AddItem(tally, item, header.len);
        }
        const auto used =
            static_cast<std::size_t>(at - reinterpret_cast<const unsigned char*>(args->buf));
        if (used + sizeof header + kLargestItem <= kResultBytes) {
            break;
        }
        // Go on after the last key returned.
        key.min_objectid = header.objectid;
        key.min_type = header.type;
        key.min_offset = header.offset + 1;
        if (header.offset == kMax64) {
            key.min_offset = 0;
            if (++key.min_type > BTRFS_EXTENT_DATA_KEY) {
                key.min_type = 0;
                if (++key.min_objectid > key.max_objectid || key.min_objectid == 0) {
                    break;
                }
            }
        }
        if (key.min_objectid > key.max_objectid) {
            break;
        }
    }
    finish();
    return ExtentSearch::kDone;
}

}  // namespace

ExtentSearch SearchFileExtents(int fd, std::span<const std::uint64_t> inodes,
                               std::span<FileExtentUsage> usage) {
    std::fill(usage.begin(), usage.end(), FileExtentUsage{});
    if (inodes.empty()) {
        return ExtentSearch::kDone;
    }
    // Kept by each walking thread: the buffer is larger than an allocation that the heap serves
    // without a system call.
    thread_local SearchBuffer buffer;
    std::size_t first = 0;
    for (std::size_t i = 1; i <= inodes.size(); ++i) {
        if (i == inodes.size() || inodes[i] - inodes[i - 1] > kMaxInodeGap) {
            const auto result = SearchRange(fd, buffer, inodes.subspan(first, i - first),
                                            usage.subspan(first, i - first));
            if (result != ExtentSearch::kDone) {
                return result;
            }
            first = i;
        }
    }
    return ExtentSearch::kDone;
}

bool ExtentSearchPermitted(int fd) {
    SearchBuffer buffer;
    btrfs_ioctl_search_args_v2* args = buffer.Args();
    args->key = {};
    args->key.min_objectid = BTRFS_FIRST_FREE_OBJECTID;
    args->key.max_objectid = BTRFS_FIRST_FREE_OBJECTID;
    args->key.min_type = BTRFS_INODE_ITEM_KEY;
    args->key.max_type = BTRFS_INODE_ITEM_KEY;
    args->key.max_offset = kMax64;
    args->key.max_transid = kMax64;
    args->key.nr_items = 1;
    args->buf_size = kResultBytes;
    return ::ioctl(fd, BTRFS_IOC_TREE_SEARCH_V2, args) == 0;
}

}  // namespace packmeter::linuxfs

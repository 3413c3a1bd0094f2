#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/fs/filesystem.hpp"

namespace packmeter {

// "zstd", "zstd:5", "lzo", "zlib", "zlib:9" (btrfs' own names and levels) or "lznt1"; nothing
// when the text names no algorithm or a level out of range (zstd 1-15, zlib 1-9, none else).
std::optional<CompressionChoice> ParseCompressionMethod(std::string_view text);
// The method's name as ParseCompressionMethod reads it ("zstd:3"; "default").
std::string CompressionMethodText(const CompressionChoice& choice);

// Compresses one piece of data (a btrfs chunk of up to 128 KiB, an NTFS unit of 64 KiB) the way
// the file system's own compressor does, to learn the size it would store.
class ChunkCompressor {
  public:
    virtual ~ChunkCompressor() = default;
    // The compressed size; any value of at least data.size() when the data does not shrink.
    virtual std::size_t CompressedSize(std::span<const std::uint8_t> data) = 0;
};
using CompressorFactory =
    std::function<std::unique_ptr<ChunkCompressor>(const CompressionChoice& choice)>;

// The rules of the file system the data will be compressed on.
enum class ForecastRules : std::uint8_t { kNone, kBtrfs, kNtfs };
// The rules of a volume as VolumeInfo names its file system.
ForecastRules RulesForFileSystem(std::string_view fileSystem);

// btrfs, as measured on a loop-mounted volume (kernel 6.18) compressing through the defragment
// call:
// - The file is written back in stretches of 512 KiB from the start of each run of data (holes
//   stay holes). Each stretch is cut into chunks of 128 KiB, each compressed on its own and
//   stored compressed, rounded up to sectors (4 KiB), only when that saves at least one sector
//   against the chunk's own rounded size. The first chunk that does not shrink ends compression
//   for the rest of its stretch: the rest is stored plain. A rest of one sector or less after
//   the first chunk of a stretch is stored plain as well.
// - A file smaller than a sector is compressed whole: a result of at most 2,048 bytes
//   (max_inline) that is smaller than the file is stored inline in the tree at that size;
//   otherwise the file takes one plain sector, or stays inline uncompressed up to 2,048 bytes.
//   A file of up to 2,048 bytes that is stored inline already is left as it is by the
//   defragment call.
// NTFS through ntfs-3g (2022.10.3), compressing by the rewrite of the compress command:
// - A file whose data fits in its MFT record stays resident (data of up to 656 bytes, rounded
//   up to 8, with the rewrite's short temporary name) and shows its size rounded up to 512.
// - Otherwise the data in units of 16 clusters, each compressed with LZNT1 and stored
//   compressed, rounded up to clusters, when that is less than a whole unit; a unit of zeros
//   becomes a hole. So a last, partial unit is stored compressed even when that takes a cluster
//   more than plain (ten clusters of random bytes take eleven).
// - A sparse file is left as it is: ntfs-3g cannot make a file both sparse and compressed.
struct ForecastGeometry {
    std::int64_t sector = 4096;       // btrfs sector, NTFS cluster
    std::int64_t maxInline = 2048;    // btrfs max_inline; NTFS: the most resident data
    std::int64_t chunk = 128 * 1024;  // btrfs compressed extent; NTFS: 16 clusters
    std::int64_t stretch = 512 * 1024;
};

// Progress of a forecast, read by other threads: bytes of file data read of those to read.
// The folders are listed while the files are read, so `total` grows until `listed` is set.
struct ForecastProgress {
    std::atomic<std::int64_t> done{0};
    std::atomic<std::int64_t> total{0};
    std::atomic<bool> listed{false};
};

// What one file or folder takes now and would take after compressing.
struct ForecastSizes {
    std::int64_t size = 0;
    std::int64_t onDiskNow = 0;
    std::int64_t forecast = 0;
    std::int64_t files = 0;
    std::int64_t unreadable = 0;  // files whose data could not be read: forecast as they are
};

// The space one file would take. `onDiskNow` is what it takes now (btrfs keeps small inline
// files as they are). Quick mode reads a sample: files of up to eight stretches (btrfs: 512 KiB,
// NTFS: 64 KiB) whole; of larger ones the first and last stretch and others evenly between, a
// 32nd of the stretches but at least eight, and scales the stretches not read by the sampled
// ones' ratio. `limit`, when positive, reads only the file's first `limit` bytes and
// scales likewise (the compress threshold's test). Nothing on a read error or when `stop` is
// set.
std::optional<std::int64_t> ForecastFile(FileReader& reader, std::int64_t size,
                                         std::int64_t onDiskNow, ForecastRules rules,
                                         ChunkCompressor& compressor, bool quick,
                                         ForecastProgress* progress = nullptr,
                                         const std::atomic<bool>* stop = nullptr,
                                         std::int64_t limit = 0);

// The bytes ForecastFile reads of a file of `size`.
std::int64_t ForecastReadBytes(std::int64_t size, ForecastRules rules, bool quick);

// The forecast of a list of paths (files or folders, each folder with everything below it on
// the same volume), one result per path in order, each with its file system's rules.
struct ForecastRow {
    std::string path;
    std::string fileSystem;
    bool folder = false;
    bool found = false;  // false: the path could not be opened
    ForecastSizes sizes;
};
struct ForecastRequest {
    CompressionChoice method;  // btrfs' algorithm and level; NTFS always uses LZNT1
    // Quick mode samples large files (ForecastFile), and of the files it would read whole it
    // reads, per path, size class (an eighth of a power of two) and name extension, the first
    // one and then one whenever those read make less than a 32nd of the bytes met; the others
    // are not opened and take the ratio of those read.
    bool quick = false;
    // Rules to apply everywhere instead of each volume's own (what compressing would give on
    // that file system).
    std::optional<ForecastRules> rules;
};
// Lists each path once; two workers read and compress the files to read as the listing meets
// them. Returns false when `stop` ended it.
bool ForecastPaths(FileSystem& fs, const std::vector<std::string>& paths,
                   const ForecastRequest& request, const CompressorFactory& makeCompressor,
                   std::vector<ForecastRow>& rows, ForecastProgress* progress = nullptr,
                   const std::atomic<bool>* stop = nullptr);

// The threshold of `choice` for one file: whether a forecast of its first `sampled` bytes
// saves less than choice.minSavingPercent, in which case choice.leftAlone hears of it. False
// when no threshold is set or the file cannot be read (the switch then reports what is wrong).
bool LeaveAlone(std::string_view name, FileReader& reader, std::int64_t size, ForecastRules rules,
                const CompressionChoice& choice, ChunkCompressor& compressor,
                std::int64_t sampled = 1024 * 1024);

// The saving in percent of `size` that a forecast of `forecast` bytes means (0 for empty).
double SavingPercent(std::int64_t size, std::int64_t forecast);

}  // namespace packmeter

#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace packmeter {

// How a file system stored a piece of data: btrfs keeps one of the first four per extent and
// marks space reserved but never written as preallocated; NTFS compresses with LZNT1 only.
enum class Algorithm : std::uint8_t { kNone, kZlib, kLzo, kZstd, kPrealloc, kLznt1 };

// The lower-case name tables and JSON use ("none", "zlib", "lzo", "zstd", "prealloc", "lznt1").
std::string_view AlgorithmName(Algorithm algorithm);

// The bytes stored with one algorithm: on disk, before compression, and referenced by the
// files (more than uncompressed where extents are shared or referenced twice, less where
// only part of an extent is still in use).
struct AlgorithmFigures {
    std::int64_t onDisk = 0;
    std::int64_t uncompressed = 0;
    std::int64_t referenced = 0;

    AlgorithmFigures& operator+=(const AlgorithmFigures& other) {
        onDisk += other.onDisk;
        uncompressed += other.uncompressed;
        referenced += other.referenced;
        return *this;
    }
    bool operator==(const AlgorithmFigures&) const = default;
};

// The split of an entry's or a folder's bytes by algorithm. Holds only the algorithms present,
// in the order of Algorithm, so a row whose file system does not report any stays empty (no
// allocation).
class AlgorithmSplit {
  public:
    struct Part {
        Algorithm algorithm;
        AlgorithmFigures figures;
        bool operator==(const Part&) const = default;
    };

    void Add(Algorithm algorithm, const AlgorithmFigures& figures);
    AlgorithmSplit& operator+=(const AlgorithmSplit& other);
    // Takes away what `other` added; algorithms left with nothing are dropped.
    AlgorithmSplit& operator-=(const AlgorithmSplit& other);
    std::span<const Part> Parts() const { return parts_; }
    bool Empty() const { return parts_.empty(); }
    // The sum over every algorithm.
    AlgorithmFigures Total() const;
    bool operator==(const AlgorithmSplit&) const = default;

  private:
    std::vector<Part> parts_;
};

}  // namespace packmeter

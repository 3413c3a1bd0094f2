#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace packmeter {

// A set of 64-bit file ids by open addressing, in 8-byte slots with no allocation per id. The
// ids are spread over 32 tables by their hash; each grows by half once four fifths of its
// slots are taken, so it stays between 53% and 80% full: 10 to 15 bytes per id. Only one small
// table is copied at a time, so growing adds a thirty-second of that at most. The id 0 marks a
// free slot and cannot be stored.
class FileIdSet {
  public:
    // True when `id` (not 0) was not in the set before.
    bool Insert(std::uint64_t id);
    std::size_t Size() const { return count_; }
    // The bytes its slots take.
    std::size_t Bytes() const { return bytes_; }
    // The most bytes its slots took at once, while a table grew included.
    std::size_t PeakBytes() const { return peakBytes_; }

  private:
    static constexpr std::size_t kTables = 32;
    struct Table {
        std::vector<std::uint64_t> ids;  // 0 where free
        std::size_t count = 0;
    };
    void Grow(Table& table);

    std::array<Table, kTables> tables_;
    std::size_t count_ = 0;
    std::size_t bytes_ = 0;
    std::size_t peakBytes_ = 0;
};

}  // namespace packmeter

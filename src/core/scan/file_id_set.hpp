#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packmeter {

// A set of 64-bit file ids by open addressing: one array of 8-byte slots, no allocation per id.
// It grows by half once four fifths of the slots are taken, so it stays between 53% and 80%
// full: 10 to 15 bytes per id. The id 0 marks a free slot and cannot be stored.
class FileIdSet {
  public:
    // True when `id` (not 0) was not in the set before.
    bool Insert(std::uint64_t id);
    std::size_t Size() const { return count_; }
    // The bytes its slots take.
    std::size_t Bytes() const { return slots_.capacity() * sizeof(std::uint64_t); }

  private:
    void Grow();
    // The first slot to try for `id` among `capacity`.
    static std::size_t Home(std::uint64_t id, std::size_t capacity);

    std::vector<std::uint64_t> slots_;
    std::size_t count_ = 0;
};

}  // namespace packmeter

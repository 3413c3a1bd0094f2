#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace packmeter {

// The LZNT1 format NTFS stores compressed files in: the data in chunks of 4 KiB, each with a
// 2-byte header and stored as LZ77 tokens, or plain when that is not shorter. Only the size is
// needed to forecast what a file will take; the bytes are produced too so that tests can
// check them against a decompressor.
class Lznt1Compressor {
  public:
    // The compressed size of `data` (a whole compression unit or less).
    std::size_t CompressedSize(std::span<const std::uint8_t> data);
    // `data` compressed, appended to `out`.
    void Compress(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

  private:
    std::size_t Chunk(std::span<const std::uint8_t> chunk, std::vector<std::uint8_t>* out);

    std::vector<std::int32_t> head_;
    std::vector<std::int32_t> chain_;
    std::vector<std::uint8_t> scratch_;
};

// The original bytes of LZNT1 data; empty when it is malformed.
std::vector<std::uint8_t> Lznt1Decompress(std::span<const std::uint8_t> data);

}  // namespace packmeter

#pragma once

// The compressors the forecast uses, one implementation per operating system.

#include <memory>

#include "core/utils/forecast.hpp"

namespace packmeter {

// A compressor that sizes data as the file system would store it with `choice` (LZNT1 for
// NTFS; zstd, lzo or zlib at a level for btrfs), or nullptr where the platform lacks it.
std::unique_ptr<ChunkCompressor> MakeChunkCompressor(const CompressionChoice& choice);

}  // namespace packmeter

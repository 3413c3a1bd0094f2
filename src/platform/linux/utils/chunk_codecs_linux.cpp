#include <lzo/lzo1x.h>
#include <zlib.h>
#include <zstd.h>

#include <vector>

#include "core/utils/lznt1.hpp"
#include "platform/chunk_codecs.hpp"

namespace packmeter {

namespace {

// btrfs' default levels when the mount or property names none.
constexpr int kZstdDefaultLevel = 3;
constexpr int kZlibDefaultLevel = 3;
constexpr std::size_t kSector = 4096;

class ZstdCompressor final : public ChunkCompressor {
  public:
    explicit ZstdCompressor(int level) : context_(ZSTD_createCCtx()), level_(level) {}
    ~ZstdCompressor() override { ZSTD_freeCCtx(context_); }
    ZstdCompressor(const ZstdCompressor&) = delete;
    ZstdCompressor& operator=(const ZstdCompressor&) = delete;

    std::size_t CompressedSize(std::span<const std::uint8_t> data) override {
        out_.resize(ZSTD_compressBound(data.size()));
        // The kernel writes a frame without checksum, its window at most 128 KiB: the same
        // as the library's choice for inputs of that size.
        const std::size_t n =
            ZSTD_compressCCtx(context_, out_.data(), out_.size(), data.data(), data.size(), level_);
        return ZSTD_isError(n) ? data.size() : n;
    }

  private:
    ZSTD_CCtx* context_;
    int level_;
    std::vector<std::uint8_t> out_;
};

// btrfs feeds zlib a sector at a time with a sync flush after each, then finishes the stream.
class ZlibCompressor final : public ChunkCompressor {
  public:
    explicit ZlibCompressor(int level) : level_(level) {}
    std::size_t CompressedSize(std::span<const std::uint8_t> data) override {
        z_stream stream{};
        if (deflateInit(&stream, level_) != Z_OK) {
            return data.size();
        }
        out_.resize(deflateBound(&stream, static_cast<uLong>(data.size())) +
                    (data.size() / kSector + 2) * 8);
        stream.next_out = out_.data();
        stream.avail_out = static_cast<uInt>(out_.size());
        bool ok = true;
        for (std::size_t at = 0; ok && at < data.size(); at += kSector) {
            const std::size_t piece = std::min(kSector, data.size() - at);
            stream.next_in = const_cast<Bytef*>(data.data() + at);
            stream.avail_in = static_cast<uInt>(piece);
            ok = deflate(&stream, Z_SYNC_FLUSH) == Z_OK;
        }
        ok = ok && deflate(&stream, Z_FINISH) == Z_STREAM_END;
        const std::size_t n = stream.total_out;
        deflateEnd(&stream);
        return ok ? n : data.size();
    }

  private:
    int level_;
    std::vector<std::uint8_t> out_;
};

// btrfs stores lzo data as a 4-byte total length, then each sector of input compressed on its
// own behind a 4-byte length; a length never straddles a sector of the output, which is padded
// instead.
class LzoCompressor final : public ChunkCompressor {
  public:
    LzoCompressor() : memory_(LZO1X_1_MEM_COMPRESS) { lzo_init(); }
    std::size_t CompressedSize(std::span<const std::uint8_t> data) override {
        constexpr std::size_t kLength = 4;
        out_.resize(kSector + kSector / 16 + 64 + 3);
        std::size_t total = kLength;
        for (std::size_t at = 0; at < data.size(); at += kSector) {
            const std::size_t piece = std::min(kSector, data.size() - at);
            lzo_uint n = out_.size();
            if (lzo1x_1_compress(data.data() + at, piece, out_.data(), &n, memory_.data()) !=
                LZO_E_OK) {
                return data.size();
            }
            total += kLength + n;
            const std::size_t left = (kSector - total % kSector) % kSector;
            if (left != 0 && left < kLength) {
                total += left;
            }
        }
        return total;
    }

  private:
    std::vector<std::uint8_t> memory_;
    std::vector<std::uint8_t> out_;
};

class Lznt1ChunkCompressor final : public ChunkCompressor {
  public:
    std::size_t CompressedSize(std::span<const std::uint8_t> data) override {
        return lznt1_.CompressedSize(data);
    }

  private:
    Lznt1Compressor lznt1_;
};

}  // namespace

std::unique_ptr<ChunkCompressor> MakeChunkCompressor(const CompressionChoice& choice) {
    switch (choice.algorithm) {
        case CompressionAlgorithm::kDefault:
        case CompressionAlgorithm::kZstd:
            return std::make_unique<ZstdCompressor>(choice.level > 0 ? choice.level
                                                                     : kZstdDefaultLevel);
        case CompressionAlgorithm::kZlib:
            return std::make_unique<ZlibCompressor>(choice.level > 0 ? choice.level
                                                                     : kZlibDefaultLevel);
        case CompressionAlgorithm::kLzo:
            return std::make_unique<LzoCompressor>();
        case CompressionAlgorithm::kLznt1:
            return std::make_unique<Lznt1ChunkCompressor>();
    }
    return nullptr;
}

}  // namespace packmeter

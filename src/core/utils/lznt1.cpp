#include "core/utils/lznt1.hpp"

#include <algorithm>

namespace packmeter {

namespace {

constexpr std::size_t kChunk = 4096;
constexpr std::size_t kHashBits = 12;
constexpr int kMaxChain = 96;

// The bits of a match token that hold the length: the further into the chunk, the more bits
// the offset needs and the fewer remain for the length.
int LengthBits(std::size_t position) {
    int bits = 12;
    for (std::size_t i = position - 1; i >= 0x10; i >>= 1) {
        --bits;
    }
    return bits;
}

std::uint32_t Hash(const std::uint8_t* p) {
    const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

}  // namespace

std::size_t Lznt1Compressor::CompressedSize(std::span<const std::uint8_t> data) {
    std::size_t total = 0;
    for (std::size_t at = 0; at < data.size(); at += kChunk) {
        total += Chunk(data.subspan(at, std::min(kChunk, data.size() - at)), nullptr);
    }
    return total;
}

void Lznt1Compressor::Compress(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
    for (std::size_t at = 0; at < data.size(); at += kChunk) {
        Chunk(data.subspan(at, std::min(kChunk, data.size() - at)), &out);
    }
}

std::size_t Lznt1Compressor::Chunk(std::span<const std::uint8_t> chunk,
                                   std::vector<std::uint8_t>* out) {
    head_.assign(std::size_t{1} << kHashBits, -1);
    chain_.assign(chunk.size(), -1);
    scratch_.clear();
    const std::size_t n = chunk.size();
    std::size_t pos = 0;
    std::size_t flagAt = 0;
    int tokens = 8;
    auto insert = [&](std::size_t at) {
        if (at + 3 <= n) {
            const std::uint32_t h = Hash(&chunk[at]);
            chain_[at] = head_[h];
            head_[h] = static_cast<std::int32_t>(at);
        }
    };
    while (pos < n && scratch_.size() < kChunk) {
        if (tokens == 8) {
            flagAt = scratch_.size();
            scratch_.push_back(0);
            tokens = 0;
        }
        std::size_t bestLength = 0;
        std::size_t bestOffset = 0;
        if (pos > 0 && pos + 3 <= n) {
            const int lengthBits = LengthBits(pos);
            const std::size_t maxOffset = std::size_t{1} << (16 - lengthBits);
            const std::size_t maxLength = std::min<std::size_t>((1u << lengthBits) + 2, n - pos);
            int depth = kMaxChain;
            for (std::int32_t cand = head_[Hash(&chunk[pos])];
                 cand >= 0 && depth-- > 0 && pos - static_cast<std::size_t>(cand) <= maxOffset;
                 cand = chain_[cand]) {
                const std::size_t from = static_cast<std::size_t>(cand);
                if (chunk[from + bestLength] != chunk[pos + bestLength] ||
                    chunk[from] != chunk[pos]) {
                    continue;
                }
                std::size_t length = 0;
                while (length < maxLength && chunk[from + length] == chunk[pos + length]) {
                    ++length;
                }
                if (length > bestLength) {
                    bestLength = length;
                    bestOffset = pos - from;
                    if (length == maxLength) {
                        break;
                    }
                }
            }
            if (bestLength >= 3) {
                const std::uint16_t token =
                    static_cast<std::uint16_t>(((bestOffset - 1) << lengthBits) | (bestLength - 3));
                scratch_[flagAt] |= static_cast<std::uint8_t>(1u << tokens);
                scratch_.push_back(static_cast<std::uint8_t>(token & 0xff));
                scratch_.push_back(static_cast<std::uint8_t>(token >> 8));
                for (std::size_t i = 0; i < bestLength; ++i) {
                    insert(pos + i);
                }
                pos += bestLength;
                ++tokens;
                continue;
            }
        }
        scratch_.push_back(chunk[pos]);
        insert(pos);
        ++pos;
        ++tokens;
    }
    const bool compressed = pos >= n && scratch_.size() < n;
    const std::size_t body = compressed ? scratch_.size() : n;
    if (out != nullptr) {
        // The header holds the chunk's stored size less 3, the signature 3 in bits 12-14, and
        // bit 15 when the chunk is compressed. A plain chunk holds its bytes as they are
        // (ntfs-3g stores a short last chunk at its own length).
        const std::size_t stored = body;
        const std::uint16_t header =
            static_cast<std::uint16_t>((stored + 2 - 3) | 0x3000 | (compressed ? 0x8000 : 0));
        out->push_back(static_cast<std::uint8_t>(header & 0xff));
        out->push_back(static_cast<std::uint8_t>(header >> 8));
        if (compressed) {
            out->insert(out->end(), scratch_.begin(), scratch_.end());
        } else {
            out->insert(out->end(), chunk.begin(), chunk.end());
        }
    }
    return 2 + body;
}

std::vector<std::uint8_t> Lznt1Decompress(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    std::size_t at = 0;
    while (at + 2 <= data.size()) {
        const std::uint16_t header = static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
        if (header == 0) {
            break;
        }
        const std::size_t stored = (header & 0x0fff) + 1;
        at += 2;
        if (at + stored > data.size()) {
            return {};
        }
        const auto chunk = data.subspan(at, stored);
        at += stored;
        if ((header & 0x8000) == 0) {
            out.insert(out.end(), chunk.begin(), chunk.end());
            continue;
        }
        const std::size_t start = out.size();
        std::size_t i = 0;
        while (i < chunk.size()) {
            const std::uint8_t flags = chunk[i++];
            for (int bit = 0; bit < 8 && i < chunk.size(); ++bit) {
                if ((flags & (1u << bit)) == 0) {
                    out.push_back(chunk[i++]);
                    continue;
                }
                if (i + 2 > chunk.size()) {
                    return {};
                }
                const std::uint16_t token =
                    static_cast<std::uint16_t>(chunk[i] | (chunk[i + 1] << 8));
                i += 2;
                const std::size_t position = out.size() - start;
                if (position == 0) {
                    return {};
                }
                const int lengthBits = LengthBits(position);
                const std::size_t offset = (token >> lengthBits) + 1u;
                const std::size_t length = (token & ((1u << lengthBits) - 1)) + 3u;
                if (offset > position) {
                    return {};
                }
                for (std::size_t k = 0; k < length; ++k) {
                    out.push_back(out[out.size() - offset]);
                }
            }
        }
    }
    return out;
}

}  // namespace packmeter

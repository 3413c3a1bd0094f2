// Our LZNT1 compressor: what it writes decompresses to the input, and its sizes are those the
// forecast relies on (plain chunks at their own length plus the header).

#include "core/utils/lznt1.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace packmeter {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> Random(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::vector<std::uint8_t> Text(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "line " + std::to_string(line) + " of a text that repeats itself\n";
    }
    text.resize(size);
    return Bytes(text);
}

TEST(Lznt1Test, RoundTripsAndSizesEachChunk) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> data;
        std::size_t maxSize;  // the compressed size must not exceed this
    };
    std::vector<std::uint8_t> mixed = Text(30000);
    const auto noise = Random(34000, 2);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    // One long run: matches reach the longest length the position allows.
    const std::vector<std::uint8_t> run(65536, 'a');
    const Case cases[] = {
        {"empty", {}, 0},
        {"one byte", Bytes("x"), 3},
        {"short text", Bytes("abcabcabcabcabcabcabcabc"), 12},
        {"random chunk stored plain", Random(4096, 1), 4098},
        {"random partial chunk at its own length", Random(3000, 3), 3002},
        {"text unit", Text(65536), 16000},
        {"text then random", mixed, 34000 / 4096 * 4098 + 4098 + 9000},
        {"zeros", std::vector<std::uint8_t>(65536, 0), 16 * 8},
        {"run", run, 16 * 8},
    };
    for (const Case& c : cases) {
        Lznt1Compressor compressor;
        std::vector<std::uint8_t> packed;
        compressor.Compress(c.data, packed);
        EXPECT_EQ(compressor.CompressedSize(c.data), packed.size()) << c.name;
        EXPECT_LE(packed.size(), c.maxSize) << c.name;
        EXPECT_EQ(Lznt1Decompress(packed), c.data) << c.name;
    }
}

}  // namespace
}  // namespace packmeter

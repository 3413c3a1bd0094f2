// Which files and stretches the quick forecast reads, and how it scales what it did not read.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/utils/forecast.hpp"
#include "tests/support/fake_filesystem.hpp"

namespace packmeter::testing {
namespace {

constexpr std::int64_t kStretch = 512 * 1024;

// Data of the letter 'r' does not shrink; every other letter compresses to a quarter.
class QuarterCompressor final : public ChunkCompressor {
  public:
    std::size_t CompressedSize(std::span<const std::uint8_t> data) override {
        return !data.empty() && data[0] == 'r' ? data.size() : data.size() / 4;
    }
};

TEST(ForecastSampleTest, QuickReadsTheFirstOfEachClassThenAShareOfItsBytesAndScales) {
    struct File {
        std::string name;
        std::int64_t size;
        std::vector<std::int64_t> reads;  // the offsets read; none: the file is not opened
    };
    std::vector<File> files;
    // One class (size and extension): the first file, then one whenever those read make less
    // than a 32nd of the bytes met (the 33rd here).
    for (int i = 0; i < 40; ++i) {
        const std::string name = "a" + std::to_string(100 + i) + ".txt";
        files.push_back(
            {name, 10000,
             i == 0 || i == 32 ? std::vector<std::int64_t>{0} : std::vector<std::int64_t>{}});
    }
    // Another size class, another extension, data that does not shrink: each read.
    files.push_back({"a-larger.txt", 15000, {0}});
    files.push_back({"a.log", 10000, {0}});
    files.push_back({"r.dat", 10000, {0}});
    // A file of eight stretches is read whole; of 40 stretches the first, the last and six
    // evenly between.
    files.push_back({"eight.bin", 8 * kStretch, {0, 1, 2, 3, 4, 5, 6, 7}});
    files.push_back({"big.bin", 40 * kStretch, {0, 5, 11, 16, 22, 27, 33, 39}});
    for (File& file : files) {
        if (file.name.ends_with(".bin")) {
            for (std::int64_t& at : file.reads) {
                at *= kStretch;
            }
        }
    }

    FakeFileSystem fs;
    FakeNode& tree = fs.Root().Folder("tree");
    for (const File& file : files) {
        tree.File(file.name, file.size);
    }
    ForecastRequest request;
    request.rules = ForecastRules::kBtrfs;
    const auto makeCompressor = [](const CompressionChoice&) {
        return std::make_unique<QuarterCompressor>();
    };
    std::vector<ForecastRow> exact;
    ASSERT_TRUE(ForecastPaths(fs, {P("/tree")}, request, makeCompressor, exact));
    fs.reads.clear();
    request.quick = true;
    ForecastProgress progress;
    std::vector<ForecastRow> quick;
    ASSERT_TRUE(ForecastPaths(fs, {P("/tree")}, request, makeCompressor, quick, &progress));

    std::map<std::string, std::vector<std::int64_t>> read;
    for (const std::string& at : fs.reads) {
        const std::size_t split = at.rfind('@');
        read[at.substr(P("/tree/").size(), split - P("/tree/").size())].push_back(
            std::stoll(at.substr(split + 1)));
    }
    for (const File& file : files) {
        std::vector<std::int64_t> offsets = read[file.name];
        std::sort(offsets.begin(), offsets.end());
        EXPECT_EQ(offsets, file.reads) << file.name;
    }
    // Each class compresses alike here, so the scaled forecast is the exact one.
    ASSERT_EQ(quick.size(), 1u);
    EXPECT_EQ(quick[0].sizes.forecast, exact[0].sizes.forecast);
    EXPECT_EQ(quick[0].sizes.files, static_cast<std::int64_t>(files.size()));
    EXPECT_TRUE(progress.listed);
    EXPECT_EQ(progress.done, progress.total);
    EXPECT_EQ(progress.total, 3 * 10000 + 15000 + 10000 + 16 * kStretch);
}

}  // namespace
}  // namespace packmeter::testing

#include "core/utils/size_text.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;

TEST(FormatSize, UnitGrowsOnlyAboveTheThresholdOfTheDecimals) {
    EXPECT_EQ(FormatSize(0, 0), "0 Bytes");
    EXPECT_EQ(FormatSize(0, 100000), "100,000 Bytes");
    EXPECT_EQ(FormatSize(0, 100001), "98 KB");
    EXPECT_EQ(FormatSize(0, 102400000), "100,000 KB");
    EXPECT_EQ(FormatSize(0, 102400001), "98 MB");
    EXPECT_EQ(FormatSize(1, 10000), "10,000.0 Bytes");
    EXPECT_EQ(FormatSize(1, 10240), "10.0 KB");
    EXPECT_EQ(FormatSize(2, 1000), "1,000.00 Bytes");
    EXPECT_EQ(FormatSize(2, 1001), "0.98 KB");
    EXPECT_EQ(FormatSize(2, 999), "999.00 Bytes");
    EXPECT_EQ(FormatSize(3, 999), "999.000 Bytes");
}

TEST(FormatSize, LargeAndNegativeValues) {
    EXPECT_EQ(FormatSize(0, 5 * kGiB), "5,120 MB");
    EXPECT_EQ(FormatSize(2, 5 * kGiB), "5.00 GB");
    // Nothing scales beyond TB.
    EXPECT_EQ(FormatSize(0, 1024LL * 1024 * kGiB * 200), "204,800 TB");
    EXPECT_EQ(FormatSize(0, -5000000), "-5,000,000 Bytes");
    EXPECT_EQ(FormatSize(0, INT64_MAX), "8,388,608 TB");
}

TEST(FormatSize, SizesSideBySideTakeTheUnitOfTheLargest) {
    using Texts = std::vector<std::string>;
    EXPECT_EQ(FormatSizesAlike(0, {98304, 3145728, 4096}), (Texts{"96 KB", "3,072 KB", "4 KB"}));
    EXPECT_EQ(FormatSizesAlike(0, {100, 4096, 0}), (Texts{"100 Bytes", "4,096 Bytes", "0 Bytes"}));
    EXPECT_EQ(FormatSizesAlike(0, {5 * kGiB, 200000}), (Texts{"5,120 MB", "0 MB"}));
    EXPECT_EQ(FormatSizesAlike(1, {10240, 512}, {".", ","}), (Texts{"10,0 KB", "0,5 KB"}));
}

TEST(FormatSize, UsesTheGivenSeparators) {
    const NumberFormat german{".", ","};
    EXPECT_EQ(FormatSize(0, 100000, german), "100.000 Bytes");
    EXPECT_EQ(FormatSize(2, 5 * kGiB, german), "5,00 GB");
    const NumberFormat spaced{"\xE2\x80\xAF", ","};  // narrow no-break space
    EXPECT_EQ(FormatSize(1, 1234567, spaced),
              "1\xE2\x80\xAF"
              "205,6 KB");
}

TEST(FormatSizePair, UnitChosenBySizeAndValuesTruncated) {
    auto pair = FormatSizePair(1023, 1023);
    EXPECT_EQ(pair.size, "0 KB");
    EXPECT_EQ(pair.compressed, "0 KB");
    pair = FormatSizePair(10240000, 5000000);
    EXPECT_EQ(pair.size, "10000 KB");
    EXPECT_EQ(pair.compressed, "4882 KB");
    pair = FormatSizePair(10241024, 10241024);
    EXPECT_EQ(pair.size, "9 MB");
    EXPECT_EQ(pair.compressed, "9 MB");
    pair = FormatSizePair(20 * 1024 * 1024, 100 * 1024);
    EXPECT_EQ(pair.size, "20 MB");
    EXPECT_EQ(pair.compressed, "0 MB");
    pair = FormatSizePair(5 * kGiB, 5 * kGiB);
    EXPECT_EQ(pair.size, "5120 MB");
    pair = FormatSizePair(-4096, 0);
    EXPECT_EQ(pair.size, "-4 KB");
    pair = FormatSizePair(INT64_MAX, 0);
    EXPECT_EQ(pair.size, "8388607 TB");
}

TEST(FirstNumber, FirstNonZeroWholeTokenWins) {
    EXPECT_EQ(FirstNumber("4882 KB"), 4882);
    EXPECT_EQ(FirstNumber("37 %"), 37);
    EXPECT_EQ(FirstNumber("-3 %"), -3);
    EXPECT_EQ(FirstNumber("0 %"), 0);
    EXPECT_EQ(FirstNumber("KB 12"), 12);
    EXPECT_EQ(FirstNumber("1,234 KB"), 0);
    EXPECT_EQ(FirstNumber(""), 0);
    EXPECT_EQ(FirstNumber("0 KB 7"), 7);
    EXPECT_EQ(FirstNumber("  \t42\t  "), 42);
    EXPECT_EQ(FirstNumber("99999999999 KB"), 0);  // out of range is not a number
}

}  // namespace
}  // namespace packmeter

#include "core/scan/entry_row.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

TEST(RowsAndTotals, RatioRoundsHalfToEvenAndTotalsUseLocaleSeparators) {
    EXPECT_EQ(RatioPercent(0, 0), 0);
    EXPECT_EQ(RatioPercent(0, 4096), 0);
    EXPECT_EQ(RatioPercent(8192, 7168), 12);  // 12.5
    EXPECT_EQ(RatioPercent(8192, 5120), 38);  // 37.5
    EXPECT_EQ(RatioPercent(200, 1), 100);     // 99.5
    EXPECT_EQ(RatioPercent(100, 103), -3);
    const auto totals = MakeScanTotals(12345678, 2345678, NumberFormat{".", ","});
    EXPECT_EQ(totals.sizeText, "12.056 KB");
    EXPECT_EQ(totals.onDiskText, "2.291 KB");
    EXPECT_EQ(totals.ratioText, "81 %");
    EXPECT_EQ(RowState(false, 10, 5), CompressionState::kPartly);
    EXPECT_EQ(RowState(true, 10, 50), CompressionState::kCompressed);
    EXPECT_EQ(RowState(false, 10, 10), CompressionState::kPlain);
}

}  // namespace
}  // namespace packmeter

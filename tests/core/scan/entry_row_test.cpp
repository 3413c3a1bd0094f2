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

// A row keeps numbers and makes its texts when asked; the rows of a long list stay where they
// were put while more come, and move in place into any order.
TEST(RowsAndTotals, RowsMakeTheirTextsFromNumbersAndReorderInPlace) {
    const EntryRow row = MakeEntryRow("bad\xff", 3, true, false, 8 * 1024, 7 * 1024);
    EXPECT_EQ(row.Caption(), "bad\xef\xbf\xbd");
    EXPECT_EQ(row.SizeTexts().size + "|" + row.SizeTexts().compressed + "|" + row.RatioText(),
              "8 KB|7 KB|12 %");
    EXPECT_EQ(row.StateIndex(), kStatePartly + kFolderFlag);
    EXPECT_EQ(row.Keys().shownOnDisk, 7);

    EntryRows rows;
    const std::size_t count = 5000;  // more than two chunks
    for (std::size_t i = 0; i < count; ++i) {
        rows.push_back(MakeEntryRow(std::to_string(i), -1, false, false, std::int64_t(i), 0));
    }
    const EntryRow* first = &rows[0];
    rows.push_back(MakeEntryRow("last", -1, false, false, 0, 0));
    EXPECT_EQ(&rows[0], first);
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = (i * 7919) % order.size();  // a prime step: one permutation of many cycles
    }
    rows.Reorder(order);
    ASSERT_EQ(rows.size(), count + 1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].name, order[i] == count ? "last" : std::to_string(order[i])) << i;
    }
    EntryRows taken = std::move(rows);
    EXPECT_EQ(taken.size(), count + 1);
    EXPECT_TRUE(rows.empty());  // NOLINT(bugprone-use-after-move): a moved-from list is empty
}

}  // namespace
}  // namespace packmeter

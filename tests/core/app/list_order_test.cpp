#include "core/app/list_order.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace packmeter {
namespace {

ListItem Entry(std::string name, bool folder, std::string size = "0 KB",
               std::string onDisk = "0 KB", std::string ratio = "0 %") {
    ListItem item;
    item.caption = std::move(name);
    item.subItems = {std::move(size), std::move(onDisk), std::move(ratio)};
    item.stateIndex = folder ? kFolderFlag : 0;
    return item;
}

std::vector<std::string> Sorted(std::vector<ListItem> rows, int column, TSortOption order) {
    std::vector<std::string> names;
    for (const auto at : SortedOrder(rows, [&](const ListItem&a, const ListItem&b) {
             return ListCompare(a, b, column, order);
         })) {
        names.push_back(rows[at].caption);
    }
    return names;
}

using Names = std::vector<std::string>;

TEST(ListCompareTest, NamesPutFilesBeforeFoldersAscendingAndFoldersFirstDescending) {
    const std::vector<ListItem> rows = {Entry("beta", true), Entry("zeta.txt", false),
                                        Entry("Alpha", true), Entry("apple.txt", false)};
    EXPECT_EQ(Sorted(rows, kNameColumn, soAscending),
              (Names{"apple.txt", "zeta.txt", "Alpha", "beta"}));
    EXPECT_EQ(Sorted(rows, kNameColumn, soDescending),
              (Names{"beta", "Alpha", "zeta.txt", "apple.txt"}));
}

TEST(ListCompareTest, NamesIgnoreCaseOfLettersOnlyAndShorterNamesComeFirst) {
    EXPECT_EQ(CompareNames("readme", "README"), 0);
    // '_' (95) lies above 'Z' (90): a_b after aZ.
    EXPECT_GT(CompareNames("a_b", "aZ"), 0);
    EXPECT_GT(CompareNames("a_b", "az"), 0);
    EXPECT_LT(CompareNames("abc", "abcd"), 0);
    // Bytes above ASCII compare by their code, after every ASCII character.
    EXPECT_GT(CompareNames("\xc3\xa9t\xc3\xa9", "zeta"), 0);
}

TEST(ListCompareTest, SizesByUnitThenByTheNumberShown) {
    const std::vector<ListItem> rows = {
        Entry("2g", false, "2 GB"),       Entry("10m", false, "10 MB"),
        Entry("9999k", false, "9999 KB"), Entry("120k", false, "120 KB"),
        Entry("95k", false, "95 KB"),     Entry("1t", false, "1 TB")};
    EXPECT_EQ(Sorted(rows, kSizeColumn, soAscending),
              (Names{"95k", "120k", "9999k", "10m", "2g", "1t"}));
    EXPECT_EQ(Sorted(rows, kSizeColumn, soDescending),
              (Names{"1t", "2g", "10m", "9999k", "120k", "95k"}));
}

TEST(ListCompareTest, CompressedColumnGoesByTheUnitThatTheLogicalSizeChose) {
    // 20 MB that take almost nothing still show "0 MB", above any "KB" text.
    const ListItem packed = Entry("packed", false, "20 MB", "0 MB");
    const ListItem plain = Entry("plain", false, "900 KB", "900 KB");
    EXPECT_GT(ListCompare(packed, plain, kCompressedColumn, soAscending), 0);
    EXPECT_LT(ListCompare(packed, plain, kCompressedColumn, soDescending), 0);
}

TEST(ListCompareTest, SameNumberInTheSameUnitIsEqualWhateverTheBytes) {
    EXPECT_EQ(
        ListCompare(Entry("a", false, "5 MB"), Entry("b", true, "5 MB"), kSizeColumn, soAscending),
        0);
    EXPECT_EQ(ListCompare(Entry("a", false, "0 KB"), Entry("b", false, "0 KB"), kSizeColumn,
                          soDescending),
              0);
}

TEST(ListCompareTest, RatiosByTheirNumberIncludingNegativeOnes) {
    const std::vector<ListItem> rows = {
        Entry("hundred", false, "", "", "100 %"), Entry("zero", false, "", "", "0 %"),
        Entry("twelve", false, "", "", "12 %"), Entry("minus", false, "", "", "-3 %")};
    EXPECT_EQ(Sorted(rows, kRatioColumn, soAscending),
              (Names{"minus", "zero", "twelve", "hundred"}));
    EXPECT_EQ(Sorted(rows, kRatioColumn, soDescending),
              (Names{"hundred", "twelve", "zero", "minus"}));
    // Extreme ratios do not overflow the comparison.
    EXPECT_LT(ListCompare(Entry("a", false, "", "", "-2147483648 %"),
                          Entry("b", false, "", "", "2147483647 %"), kRatioColumn, soAscending),
              0);
}

TEST(ListCompareTest, OtherColumnsCompareEqual) {
    EXPECT_EQ(ListCompare(Entry("a", false), Entry("b", true), 4, soAscending), 0);
    EXPECT_EQ(ListCompare(Entry("a", false), Entry("b", true), -1, soDescending), 0);
}

TEST(RowTextColourTest, ByCompressionStateNotByTheFolderFlag) {
    EXPECT_EQ(RowTextColour(kStatePlain), RowColour::kWindowText);
    EXPECT_EQ(RowTextColour(kStatePartly), RowColour::kNavy);
    EXPECT_EQ(RowTextColour(kStateCompressed), RowColour::kBlue);
    EXPECT_EQ(RowTextColour(kStatePlain + kFolderFlag), RowColour::kWindowText);
    EXPECT_EQ(RowTextColour(kStatePartly + kFolderFlag), RowColour::kNavy);
    EXPECT_EQ(RowTextColour(kStateCompressed + kFolderFlag), RowColour::kBlue);
}

TEST(EntryItemTest, KeepsTheRawNameForTheFileSystemAndTheCaptionForDisplay) {
    const ListItem item =
        EntryItem(MakeEntryRow("bad\xff", 7, true, false, 12, 7 * 1024, 8 * 1024));
    EXPECT_EQ(item.data, "bad\xff");
    EXPECT_EQ(item.caption, "bad\xef\xbf\xbd");
    EXPECT_EQ(item.subItems, (std::vector<std::string>{"8 KB", "7 KB", "12 %"}));
    EXPECT_EQ(item.imageIndex, 7);
    EXPECT_EQ(item.stateIndex, kStatePartly + kFolderFlag);
}

}  // namespace
}  // namespace packmeter

#include "core/app/list_order.hpp"

#include "core/app/row_hint.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace packmeter {
namespace {

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;
constexpr std::int64_t kGiB = 1024 * kMiB;

// The list row of an entry with the given sizes, as a scan makes it.
ListItem Entry(std::string name, bool folder, std::int64_t size = 0, std::int64_t onDisk = -1) {
    return EntryItem(
        MakeEntryRow(std::move(name), -1, folder, false, size, onDisk < 0 ? size : onDisk));
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
    // Shown as 2 GB, 10 MB, 9999 KB, 120 KB, 95 KB and 1 TB.
    const std::vector<ListItem> rows = {
        Entry("2g", false, 2 * kGiB),       Entry("10m", false, 10 * kMiB + 5),
        Entry("9999k", false, 9999 * kKiB), Entry("120k", false, 120 * kKiB),
        Entry("95k", false, 95 * kKiB),     Entry("1t", false, 1024 * kGiB)};
    EXPECT_EQ(ColumnText(rows[2], 1), "9999 KB");
    EXPECT_EQ(ColumnText(rows[1], 1), "10 MB");
    EXPECT_EQ(Sorted(rows, kSizeColumn, soAscending),
              (Names{"95k", "120k", "9999k", "10m", "2g", "1t"}));
    EXPECT_EQ(Sorted(rows, kSizeColumn, soDescending),
              (Names{"1t", "2g", "10m", "9999k", "120k", "95k"}));
}

TEST(ListCompareTest, CompressedColumnGoesByTheUnitThatTheLogicalSizeChose) {
    // 20 MB that take almost nothing still show "0 MB", above any "KB" text.
    const ListItem packed = Entry("packed", false, 20 * kMiB, 100 * kKiB);
    const ListItem plain = Entry("plain", false, 900 * kKiB);
    EXPECT_EQ(ColumnText(packed, 2), "0 MB");
    EXPECT_GT(ListCompare(packed, plain, kCompressedColumn, soAscending), 0);
    EXPECT_LT(ListCompare(packed, plain, kCompressedColumn, soDescending), 0);
    // Within one unit, by the number that column shows.
    EXPECT_LT(ListCompare(Entry("a", false, 8 * kKiB, 2 * kKiB),
                          Entry("b", false, 2 * kKiB, 3 * kKiB), kCompressedColumn, soAscending),
              0);
}

TEST(ListCompareTest, SameNumberInTheSameUnitIsEqualWhateverTheBytes) {
    EXPECT_EQ(ListCompare(Entry("a", false, 50 * kMiB), Entry("b", true, 50 * kMiB + kMiB / 2),
                          kSizeColumn, soAscending),
              0);
    EXPECT_EQ(ListCompare(Entry("a", false, 0), Entry("b", false, 1023), kSizeColumn, soDescending),
              0);
}

TEST(ListCompareTest, RatiosByTheirNumberIncludingNegativeOnes) {
    const std::vector<ListItem> rows = {Entry("hundred", false, 200, 0), Entry("zero", false, 50),
                                        Entry("twelve", false, 8 * kKiB, 7 * kKiB),
                                        Entry("minus", false, 100 * kKiB, 103 * kKiB),
                                        // A ratio too large for 32 bits still sorts by its value.
                                        Entry("huge", false, 1, kGiB)};
    EXPECT_EQ(ColumnText(rows[3], 3), "-3 %");
    EXPECT_EQ(Sorted(rows, kRatioColumn, soAscending),
              (Names{"huge", "minus", "zero", "twelve", "hundred"}));
    EXPECT_EQ(Sorted(rows, kRatioColumn, soDescending),
              (Names{"hundred", "twelve", "zero", "minus", "huge"}));
}

TEST(ListCompareTest, OtherColumnsCompareEqual) {
    EXPECT_EQ(ListCompare(Entry("a", false), Entry("b", true), 4, soAscending), 0);
    EXPECT_EQ(ListCompare(Entry("a", false), Entry("b", true), -1, soDescending), 0);
}

TEST(ListSortKeyTest, KeysNeverContradictTheComparisonAndSortAndMergeAsItDoes) {
    // Names that differ only after 7 and after 15 bytes, in case, in bytes above ASCII and
    // around 'Z' / '_'; folders; sizes in every unit; ratios of either sign.
    std::vector<ListItem> rows = {
        Entry("IMG_20231105_123456.jpg", false, 3 * kMiB, kMiB),
        Entry("img_20231105_123455.jpg", false, 3 * kMiB, 2 * kMiB),
        Entry("IMG_20231105_12345", true, 5 * kGiB),
        Entry("IMG_20231105_1234", false, 20, 0),
        Entry("file0000123.txt", false, 900 * kKiB),
        Entry("FILE0000123.TXT", false, 900 * kKiB + 1),
        Entry("file0000124", false, 100 * kKiB, 103 * kKiB),
        Entry("a_b", false, 1, kGiB),
        Entry("aZ", true),
        Entry("az", false, 1024 * kGiB),
        Entry("\xc3\xa9t\xc3\xa9", false, 7),
        Entry("zeta", false, 8 * kKiB, 7 * kKiB),
        Entry("", false),
        Entry("file000012", true, 12 * kMiB, 6 * kMiB),
    };
    std::vector<std::uint32_t> shown(rows.size());
    ListItemStore store;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // Each row twice, so that rows with equal keys and equal order are there too.
        store.push_back(rows[i]);
        shown[i] = std::uint32_t(i);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        store.push_back(rows[(i * 5) % rows.size()]);
        shown.push_back(std::uint32_t(rows.size() + i));
    }
    for (const int column : {kNameColumn, kSizeColumn, kCompressedColumn, kRatioColumn, 4}) {
        for (const TSortOption order : {soAscending, soDescending}) {
            SCOPED_TRACE(std::to_string(column) + (order == soAscending ? " up" : " down"));
            const ItemOrder compare = [&](const ListItem& a, const ListItem& b) {
                return ListCompare(a, b, column, order);
            };
            std::vector<SortKey> keys;
            for (const auto row : shown) {
                const SortKey key = ListSortKey(store[row], column);
                keys.push_back(order == soDescending ? key.Reversed() : key);
            }
            for (std::size_t a = 0; a < shown.size(); ++a) {
                for (std::size_t b = 0; b < shown.size(); ++b) {
                    if (compare(store[shown[a]], store[shown[b]]) < 0) {
                        EXPECT_LE(keys[a], keys[b])
                            << store[shown[a]].caption << " / " << store[shown[b]].caption;
                    }
                }
            }
            EXPECT_EQ(SortedOrder(store, shown, keys, compare), SortedOrder(store, shown, compare));
            // The first half sorted, the second half merged in.
            const std::size_t half = shown.size() / 2;
            std::vector<std::uint32_t> merging(shown.begin(), shown.begin() + std::ptrdiff_t(half));
            const std::vector<std::size_t> firstSorted = SortedOrder(store, merging, compare);
            std::vector<std::uint32_t> sortedHalf;
            std::vector<SortKey> mergingKeys;
            for (const auto at : firstSorted) {
                sortedHalf.push_back(merging[at]);
                mergingKeys.push_back(keys[at]);
            }
            for (std::size_t i = half; i < shown.size(); ++i) {
                sortedHalf.push_back(shown[i]);
                mergingKeys.push_back(keys[i]);
            }
            EXPECT_EQ(MergedOrder(store, sortedHalf, mergingKeys, half, compare),
                      MergedOrder(store, sortedHalf, half, compare));
        }
    }
}

TEST(RowTextColourTest, ByCompressionStateAndGreyedWhenIncomplete) {
    const struct {
        CompressionState state;
        bool incomplete;
        RowColour colour;
    } cases[] = {
        {CompressionState::kPlain, false, RowColour::kWindowText},
        {CompressionState::kPartly, false, RowColour::kNavy},
        {CompressionState::kCompressed, false, RowColour::kBlue},
        {CompressionState::kPlain, true, RowColour::kGrayText},
        {CompressionState::kCompressed, true, RowColour::kGrayText},
    };
    for (const auto& c : cases) {
        EntryKeys keys;
        keys.state = c.state;
        keys.incomplete = c.incomplete;
        EXPECT_EQ(RowTextColour(keys), c.colour) << int(c.state) << c.incomplete;
    }
}

TEST(RowRgbTest, NavyAndBlueOnLightBackgroundsReadableShadesOfThemOnDarkOnes) {
    const struct {
        Rgb base;
        bool light;
    } bases[] = {
        {{255, 255, 255}, true}, {{240, 240, 240}, true}, {{42, 42, 42}, false},
        {{0, 0, 0}, false},      {{30, 30, 46}, false},   {{53, 53, 53}, false},
    };
    for (const auto& b : bases) {
        const Rgb navy = *RowRgb(RowColour::kNavy, b.base);
        const Rgb blue = *RowRgb(RowColour::kBlue, b.base);
        EXPECT_GE(ContrastRatio(navy, b.base), b.light ? kTextContrast : kPartlyContrast);
        EXPECT_GE(ContrastRatio(blue, b.base), kTextContrast);
        if (b.light) {
            EXPECT_EQ(navy.blue, kNavy.blue);
            EXPECT_EQ(navy.red + navy.green + blue.red + blue.green, 0);
            EXPECT_EQ(blue.blue, kBlue.blue);
        } else {
            // Lighter shades of the same hue: blue stays the strongest channel, and the two
            // stay apart.
            EXPECT_GT(navy.blue, navy.red);
            EXPECT_GT(blue.blue, blue.red);
            EXPECT_GT(ContrastRatio(navy, blue), 1.3);
        }
    }
    EXPECT_FALSE(RowRgb(RowColour::kWindowText, {0, 0, 0}));
    EXPECT_NEAR(ContrastRatio({0, 0, 0}, {255, 255, 255}), 21.0, 1e-9);
}

TEST(EntryItemTest, HintAndGreyingSayWhatARowStandsForAndWhatItLeavesOut) {
    const auto row = [](bool folder, std::int64_t size, EntryKind kind, std::int64_t unreadable) {
        EntryRow r = MakeEntryRow("x", -1, folder, false, size, size);
        r.kind = kind;
        r.unreadable = unreadable;
        return r;
    };
    const struct {
        EntryRow row;
        const char* hint;
    } cases[] = {
        {row(false, 10, EntryKind::kPlain, 0), ""},
        {row(true, 0, EntryKind::kPlain, 1),
         "This folder could not be read; its sizes are unknown."},
        {row(true, 10, EntryKind::kPlain, 1),
         "1 entry in it could not be read; the sizes leave it out."},
        {row(true, 10, EntryKind::kPlain, 3),
         "3 entries in it could not be read; the sizes leave them out."},
        {row(false, 0, EntryKind::kLink, 0), "A link: not followed, counted as 0 bytes."},
        {row(true, 0, EntryKind::kMount, 0),
         "A mount point: another volume, not entered, counted as 0 bytes."},
        {row(false, 0, EntryKind::kSpecial, 0), "A device, pipe or socket: counted as 0 bytes."},
    };
    for (const auto& c : cases) {
        const ListItem item = EntryItem(c.row);
        EXPECT_EQ(item.hint, c.hint);
        EXPECT_EQ(item.keys.incomplete, c.row.unreadable > 0) << c.hint;
    }
    EXPECT_EQ(UnreadableNotice(0), "");
    EXPECT_EQ(UnreadableNotice(1), "1 entry could not be read; the sizes leave it out");
    EXPECT_EQ(UnreadableNotice(2), "2 entries could not be read; the sizes leave them out");
}

TEST(EntryItemTest, KeepsTheRawNameForTheFileSystemAndTheCaptionForDisplay) {
    const ListItem item = EntryItem(MakeEntryRow("bad\xff", 7, true, false, 8 * 1024, 7 * 1024));
    EXPECT_EQ(item.data, "bad\xff");
    EXPECT_EQ(item.caption, "bad\xef\xbf\xbd");
    EXPECT_EQ(SubItemCount(item), 3u);
    EXPECT_EQ(ColumnText(item, 1) + "|" + ColumnText(item, 2) + "|" + ColumnText(item, 3),
              "8 KB|7 KB|12 %");
    // A name that is its own caption is kept once.
    const ListItem plain = EntryItem(MakeEntryRow("plain.txt", 1, false, false, 1, 1));
    EXPECT_TRUE(plain.data.empty());
    EXPECT_EQ(plain.RawName(), "plain.txt");
    EXPECT_EQ(item.imageIndex, 7);
    EXPECT_EQ(item.keys.StateIndex(), kStatePartly + kFolderFlag);
    EXPECT_EQ(item.keys.unit, SizeUnit::kKB);
    EXPECT_EQ(item.keys.shownSize, 8);
    EXPECT_EQ(item.keys.shownOnDisk, 7);
    EXPECT_EQ(item.keys.ratioPercent, 12);
}

}  // namespace
}  // namespace packmeter

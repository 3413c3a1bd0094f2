#include "core/listview/list_view_ex_logic.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace packmeter {
namespace {

ListItem Row(std::string caption, std::vector<std::string> subItems = {}) {
    ListItem item;
    item.caption = std::move(caption);
    item.subItems = std::move(subItems);
    return item;
}

// A list control in memory: rows, column widths, and a log of sorts and header redraws.
class FakeList : public ListViewExHost {
  public:
    int ColumnCount() const override { return int(widths.size()); }
    int ColumnWidth(int column) const override { return widths.at(std::size_t(column)); }
    void SetColumnWidth(int column, int width) override { widths.at(std::size_t(column)) = width; }
    bool SortRows(const ItemOrder& order) override {
        ++sorts;
        std::vector<ListItem> sorted;
        for (const auto at : SortedOrder(rows, order)) {
            sorted.push_back(rows[at]);
        }
        rows = std::move(sorted);
        return true;
    }
    void MergeRows(std::size_t firstNew, const ItemOrder& order) override {
        std::vector<ListItem> merged;
        for (const auto at : MergedOrder(rows, firstNew, order)) {
            merged.push_back(rows[at]);
        }
        rows = std::move(merged);
    }
    void Add(std::vector<ListItem> added, ListViewExLogic& logic) {
        const std::size_t first = rows.size();
        rows.insert(rows.end(), added.begin(), added.end());
        logic.RowsAdded(first);
    }
    void HeaderMarkChanged(int column) override { redrawn.push_back(column); }
    void ColumnClicked(int column) override { clicked.push_back(column); }

    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& row : rows) {
            out.push_back(row.caption);
        }
        return out;
    }

    std::vector<int> widths = {100, 60, 60};
    std::vector<ListItem> rows;
    int sorts = 0;
    std::vector<int> redrawn;
    std::vector<int> clicked;
};

using Captions = std::vector<std::string>;

class ListViewLogicTest : public ::testing::Test {
  protected:
    std::vector<TSortOption> Marks() const {
        std::vector<TSortOption> marks;
        for (int i = 0; i < list.ColumnCount(); ++i) {
            marks.push_back(logic.HeaderMark(i));
        }
        return marks;
    }

    NumericListLocale locale;
    FakeList list;
    ListViewExLogic logic{list, locale};
};

TEST_F(ListViewLogicTest, ColumnClicksSortAscendingThenToggleAndRestartOnAnotherColumn) {
    list.rows = {Row("b", {"2"}), Row("c", {"1"}), Row("a", {"3"})};
    logic.SetAutoResort(false);

    logic.ColumnClick(0);
    EXPECT_EQ(logic.SortOrder(), soAscending);
    EXPECT_EQ(list.Captions(), (Captions{"a", "b", "c"}));
    EXPECT_EQ(Marks(), (std::vector<TSortOption>{soAscending, soNone, soNone}));

    logic.ColumnClick(0);
    EXPECT_EQ(logic.SortOrder(), soDescending);
    EXPECT_EQ(list.Captions(), (Captions{"c", "b", "a"}));
    EXPECT_EQ(Marks(), (std::vector<TSortOption>{soDescending, soNone, soNone}));

    // Another column starts ascending again, even after a descending sort.
    logic.ColumnClick(1);
    EXPECT_EQ(logic.SortOrder(), soAscending);
    EXPECT_EQ(logic.SortColumn(), 1);
    EXPECT_EQ(list.Captions(), (Captions{"c", "b", "a"}));
    EXPECT_EQ(Marks(), (std::vector<TSortOption>{soNone, soAscending, soNone}));
    EXPECT_EQ(list.clicked, (std::vector<int>{0, 0, 1}));
}

TEST_F(ListViewLogicTest, RowsAddedUnderASortedColumnGoToTheirPlacesAndUnsortedOnesAtTheEnd) {
    logic.SetAutoResort(false);
    // No column sorted yet: rows stay in the order they come.
    list.Add({Row("m"), Row("c")}, logic);
    EXPECT_EQ(list.Captions(), (Captions{"m", "c"}));
    logic.ColumnClick(0);
    EXPECT_EQ(list.Captions(), (Captions{"c", "m"}));
    // Each batch is merged in; equal rows keep the order they came in.
    list.Add({Row("z"), Row("a"), Row("m"), Row("d")}, logic);
    EXPECT_EQ(list.Captions(), (Captions{"a", "c", "d", "m", "m", "z"}));
    logic.ColumnClick(0);
    list.Add({Row("b"), Row("y")}, logic);
    EXPECT_EQ(list.Captions(), (Captions{"z", "y", "m", "m", "d", "c", "b", "a"}));
    // A sort column outside the columns sorts nothing.
    logic.SetSortColumn(7);
    list.Add({Row("q")}, logic);
    EXPECT_EQ(list.Captions().back(), "q");
}

TEST_F(ListViewLogicTest, NewListHasNoMarkAndSettingTheColumnWithoutOrderNeitherSortsNorMarks) {
    list.rows = {Row("b"), Row("a")};
    EXPECT_EQ(logic.SortColumn(), -1);
    EXPECT_EQ(logic.SortOrder(), soNone);
    EXPECT_TRUE(logic.AutoResort());
    EXPECT_FALSE(logic.AutoSaveSettings());
    logic.SetSortColumn(1);
    EXPECT_EQ(list.sorts, 0);
    EXPECT_EQ(Marks(), (std::vector<TSortOption>{soNone, soNone, soNone}));
}

TEST_F(ListViewLogicTest, WithoutAutoResortSettingTheColumnMovesTheArrowOnly) {
    list.rows = {Row("a"), Row("b")};
    logic.SetAutoResort(false);
    logic.SetSortOrder(soAscending);
    logic.SetSortColumn(0);
    EXPECT_EQ(list.sorts, 0);
    EXPECT_EQ(list.Captions(), (Captions{"a", "b"}));
    EXPECT_EQ(logic.HeaderMark(0), soAscending);
    // A header click still sorts.
    logic.ColumnClick(0);
    EXPECT_EQ(list.Captions(), (Captions{"b", "a"}));
    EXPECT_EQ(logic.SortOrder(), soDescending);
}

TEST_F(ListViewLogicTest, WithAutoResortTheSettersSort) {
    list.rows = {Row("b"), Row("c"), Row("a")};
    logic.SetSortColumn(0);
    EXPECT_EQ(list.sorts, 0);
    logic.SetSortOrder(soDescending);
    EXPECT_EQ(list.Captions(), (Captions{"c", "b", "a"}));
    EXPECT_EQ(logic.HeaderMark(0), soDescending);
}

TEST_F(ListViewLogicTest, OrderNoneKeepsRowsAndMarkUntilTheNextRestore) {
    list.rows = {Row("b"), Row("a")};
    logic.ColumnClick(0);
    const int sorts = list.sorts;
    logic.SetSortOrder(soNone);
    EXPECT_EQ(list.sorts, sorts);
    EXPECT_EQ(list.Captions(), (Captions{"a", "b"}));
    EXPECT_EQ(logic.HeaderMark(0), soAscending);
    // A size change or the end of a header drag brings the header in line with the order.
    logic.RestoreSortMark();
    EXPECT_EQ(logic.HeaderMark(0), soNone);
}

TEST_F(ListViewLogicTest, ColumnOutsideTheListIsStoredButSortsAndMarksNothing) {
    list.rows = {Row("b"), Row("a")};
    logic.SetSortOrder(soAscending);
    list.sorts = 0;
    logic.SetSortColumn(7);
    EXPECT_EQ(logic.SortColumn(), 7);
    EXPECT_EQ(list.sorts, 0);
    EXPECT_EQ(Marks(), (std::vector<TSortOption>{soNone, soNone, soNone}));
    logic.RestoreSortMark();
    EXPECT_EQ(logic.HeaderMark(7), soNone);
}

TEST_F(ListViewLogicTest, OwnersComparisonGetsTheColumnAndAppliesTheDirectionItself) {
    list.rows = {Row("x", {"2"}), Row("y", {"10"}), Row("z", {"1"})};
    std::vector<int> columns;
    logic.onCompare = [&](const ListItem& a, const ListItem& b, int column) {
        columns.push_back(column);
        return std::stoi(ColumnText(a, column)) - std::stoi(ColumnText(b, column));
    };
    logic.SetAutoResort(false);
    logic.ColumnClick(1);
    EXPECT_EQ(list.Captions(), (Captions{"z", "x", "y"}));
    logic.ColumnClick(1);
    // The list itself does not reverse the owner's result.
    EXPECT_EQ(list.Captions(), (Captions{"z", "x", "y"}));
    ASSERT_FALSE(columns.empty());
    EXPECT_EQ(columns.front(), 1);
    // DefaultCompare hands the pair to the owner unchanged.
    const ListItem a = Row("a", {"5"});
    const ListItem b = Row("b", {"3"});
    EXPECT_EQ(logic.DefaultCompare(&a, &b, 1), 2);
}

TEST_F(ListViewLogicTest, DefaultCompareOrdersNumbersDatesAndText) {
    list.rows = {Row("c", {"4,882 KB"}), Row("a", {"900 KB"}), Row("b", {"37 %"})};
    logic.ColumnClick(1);
    EXPECT_EQ(list.Captions(), (Captions{"b", "a", "c"}));

    list.rows = {Row("x", {"", "12/31/2023"}), Row("y", {"", "1/2/2024"}),
                 Row("z", {"", "2/1/2023"})};
    logic.ColumnClick(2);
    EXPECT_EQ(list.Captions(), (Captions{"z", "x", "y"}));
    logic.ColumnClick(2);
    EXPECT_EQ(list.Captions(), (Captions{"y", "x", "z"}));

    // Text by the collation, case-sensitively; a missing sub-item is the empty text.
    list.rows = {Row("b", {"beta"}), Row("a", {"Beta"}), Row("c")};
    logic.ColumnClick(1);
    EXPECT_EQ(list.Captions(), (Captions{"c", "a", "b"}));
}

TEST_F(ListViewLogicTest, DefaultCompareTreatsFailuresAndMissingItemsAsEqual) {
    struct ThrowingLocale : NumericListLocale {
        int CompareText(std::string_view, std::string_view) const override {
            throw std::runtime_error("collation failed");
        }
    } throwing;
    ListViewExLogic failing(list, throwing);
    failing.SetSortOrder(soDescending);
    const ListItem a = Row("a");
    const ListItem b = Row("b");
    EXPECT_EQ(failing.DefaultCompare(&a, &b, 0), 0);
    EXPECT_EQ(logic.DefaultCompare(&a, nullptr, 0), 0);
    EXPECT_EQ(logic.DefaultCompare(nullptr, &b, 0), 0);
}

TEST_F(ListViewLogicTest, WithoutAnyComparisonTheStandardSortComparesCaptions) {
    list.rows = {Row("b"), Row("a")};
    EXPECT_TRUE(logic.SortByProcedure({}, 0));
    EXPECT_EQ(list.Captions(), (Captions{"a", "b"}));
    // A procedure given once is kept for Resort.
    logic.SortByProcedure(
        [](const ListItem* a, const ListItem* b, int) { return b->caption.compare(a->caption); },
        0);
    list.rows = {Row("a"), Row("c"), Row("b")};
    logic.Resort();
    EXPECT_EQ(list.Captions(), (Captions{"c", "b", "a"}));
}

TEST(DateTimeValueTest, NeedsTwoDateSeparatorsOrATimeSeparator) {
    NumericListLocale locale;
    EXPECT_FALSE(DateTimeValue("1/2", locale));
    EXPECT_FALSE(DateTimeValue("12/", locale));
    EXPECT_FALSE(DateTimeValue("plain", locale));
    EXPECT_FALSE(DateTimeValue("2/30/2024", locale));
    EXPECT_FALSE(DateTimeValue("25:00", locale));
    ASSERT_TRUE(DateTimeValue("12:30", locale));
    EXPECT_LT(*DateTimeValue("9:05 AM", locale), *DateTimeValue("12:30", locale));
    EXPECT_LT(*DateTimeValue("12:30", locale), *DateTimeValue("1:00 PM", locale));
    EXPECT_LT(*DateTimeValue("12/31/1999", locale), *DateTimeValue("1/1/00", locale));
    EXPECT_LT(*DateTimeValue("1/1/2024 23:59", locale), *DateTimeValue("1/2/2024 0:00", locale));
    locale.dateOrder = DateOrder::kDayMonthYear;
    locale.dateSeparator = ".";
    EXPECT_LT(*DateTimeValue("2.1.2024", locale), *DateTimeValue("1.2.2024", locale));
}

TEST(NumberValueTest, ReadsThePlainNumberThenTheLocalOne) {
    NumericListLocale locale;
    EXPECT_EQ(NumberValue("1,234 KB", locale), 1234.0);
    EXPECT_EQ(NumberValue("37 %", locale), 37.0);
    EXPECT_EQ(NumberValue("-2.5", locale), -2.5);
    EXPECT_FALSE(NumberValue("inf", locale));
    EXPECT_FALSE(NumberValue("KB 12", locale));
    EXPECT_FALSE(NumberValue("", locale));
    locale.thousandsSeparator = ".";
    locale.decimalSeparator = ",";
    EXPECT_EQ(NumberValue("1,5 MB", locale), 1.5);
    EXPECT_EQ(NumberValue("1.234.567", locale), 1234567.0);
}

TEST(SortedOrderTest, IsStableAndSurvivesAContradictoryComparison) {
    std::vector<ListItem> rows;
    for (int i = 0; i < 200; ++i) {
        rows.push_back(Row(std::to_string(i % 3), {std::to_string(i)}));
    }
    const auto order = SortedOrder(
        rows, [](const ListItem& a, const ListItem& b) { return a.caption.compare(b.caption); });
    ASSERT_EQ(order.size(), rows.size());
    for (std::size_t i = 1; i < order.size(); ++i) {
        const auto& previous = rows[order[i - 1]];
        const auto& current = rows[order[i]];
        ASSERT_LE(previous.caption, current.caption);
        if (previous.caption == current.caption) {
            EXPECT_LT(order[i - 1], order[i]);
        }
    }
    // Every pair "less" both ways: a permutation all the same.
    auto contradictory = SortedOrder(rows, [](const ListItem&, const ListItem&) { return -1; });
    std::sort(contradictory.begin(), contradictory.end());
    for (std::size_t i = 0; i < contradictory.size(); ++i) {
        EXPECT_EQ(contradictory[i], i);
    }
}

// Rows merged in batches of any size (ties among them) end where a stable sort of all puts
// them, shown in arrival order or through an index of their places; a comparison that
// contradicts itself still gives a permutation.
TEST(SortedOrderTest, MergingABatchEqualsSortingEverything) {
    const auto byCaption = [](const ListItem& a, const ListItem& b) {
        return a.caption.compare(b.caption);
    };
    for (const std::size_t batch : {1u, 2u, 7u, 50u, 300u}) {
        std::vector<ListItem> items;
        std::vector<std::uint32_t> places;
        std::vector<ListItem> shown;
        std::vector<std::size_t> arrival;  // the arrival number of each shown row
        for (std::uint32_t i = 0; i < 600;) {
            const std::size_t firstNew = shown.size();
            for (std::size_t j = 0; j < batch && i < 600; ++j, ++i) {
                items.push_back(Row(std::to_string(i * 7919 % 97 % 40), {}));
                places.push_back(i);
                shown.push_back(items.back());
                arrival.push_back(i);
            }
            const auto plain = MergedOrder(shown, firstNew, byCaption);
            ASSERT_EQ(MergedOrder(items, places, firstNew, byCaption), plain);
            std::vector<ListItem> merged;
            std::vector<std::uint32_t> mergedPlaces;
            std::vector<std::size_t> mergedArrival;
            for (const std::size_t at : plain) {
                merged.push_back(shown[at]);
                mergedPlaces.push_back(places[at]);
                mergedArrival.push_back(arrival[at]);
            }
            shown = std::move(merged);
            places = std::move(mergedPlaces);
            arrival = std::move(mergedArrival);
        }
        const auto sorted = SortedOrder(items, byCaption);
        ASSERT_EQ(sorted.size(), arrival.size());
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            ASSERT_EQ(arrival[i], sorted[i]) << "batch " << batch << " row " << i;
        }
        auto contradictory =
            MergedOrder(items, places, 300, [](const ListItem&, const ListItem&) { return -1; });
        std::sort(contradictory.begin(), contradictory.end());
        for (std::size_t i = 0; i < contradictory.size(); ++i) {
            ASSERT_EQ(contradictory[i], i);
        }
    }
}

class MapStore : public ListSettingsStore {
  public:
    std::optional<std::string> Read(const std::string& key, const std::string& name) override {
        const auto found = values.find(key + "\\" + name);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void Write(const std::string& key, const std::string& name, const std::string& value) override {
        values[key + "\\" + name] = value;
    }
    std::map<std::string, std::string> values;
};

TEST_F(ListViewLogicTest, SettingsRoundTripAndBadValuesKeepTheCurrentOnes) {
    logic.SetSortOrder(soDescending);
    logic.SetSortColumn(2);
    list.widths = {120, 44, 0};
    MapStore store;
    logic.SaveSettings(store);
    EXPECT_EQ(store.values, (std::map<std::string, std::string>{{"\\SortColumn", "2"},
                                                                {"\\SortOrder", "2"},
                                                                {"ListColumn0\\Width", "120"},
                                                                {"ListColumn1\\Width", "44"},
                                                                {"ListColumn2\\Width", "0"}}));

    FakeList other;
    NumericListLocale locale2;
    ListViewExLogic loaded(other, locale2);
    loaded.LoadSettings(store);
    EXPECT_EQ(loaded.SortColumn(), 2);
    EXPECT_EQ(loaded.SortOrder(), soDescending);
    EXPECT_EQ(loaded.HeaderMark(2), soDescending);
    EXPECT_EQ(other.widths, (std::vector<int>{120, 44, 0}));

    store.values["\\SortColumn"] = "two";
    store.values["\\SortOrder"] = "9";
    store.values["ListColumn0\\Width"] = "-5";
    store.values.erase("ListColumn1\\Width");
    FakeList third;
    ListViewExLogic fallback(third, locale2);
    fallback.LoadSettings(store);
    EXPECT_EQ(fallback.SortColumn(), -1);
    EXPECT_EQ(fallback.SortOrder(), soNone);
    EXPECT_EQ(third.widths, (std::vector<int>{100, 60, 0}));
}

}  // namespace
}  // namespace packmeter

#include "gui/qt/listview/list_view_ex.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QSettings>
#include <QToolTip>

#include "tests/gui/qt/gui_test_support.hpp"

namespace packmeter::qt {
namespace {

using namespace testing;

ListItem Row(std::string caption, std::vector<std::string> subItems) {
    ListItem item;
    item.caption = std::move(caption);
    item.subItems = std::move(subItems);
    return item;
}

class ListViewExTest : public ::testing::Test {
  protected:
    ListViewExTest() {
        list.setObjectName("List");
        list.AddColumn("Name", 120);
        list.AddColumn("Size", 90, Qt::AlignRight);
        list.AddColumn("Changed", 120);
        list.resize(400, 200);
        list.AddItems({Row("gamma", {"4,882 KB", "1/2/2024"}),
                       Row("alpha", {"900 KB", "12/31/2023"}),
                       Row("Beta", {"37 KB", "2/1/2023 10:00"})});
        list.show();
    }

    std::optional<QPoint> Arrow(TSortOption order) {
        return FindArrow(list.header()->grab().toImage(), order);
    }
    int SectionOf(const QPoint& point) { return list.header()->logicalIndexAt(point.x()); }

    TListViewEx list;
};

TEST_F(ListViewExTest, HeaderClicksSortBothWaysAndTheArrowFollows) {
    EXPECT_FALSE(Arrow(soAscending));
    EXPECT_FALSE(Arrow(soDescending));
    ClickHeader(list, 1);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"Beta", "alpha", "gamma"}));
    auto up = Arrow(soAscending);
    ASSERT_TRUE(up);
    EXPECT_EQ(SectionOf(*up), 1);
    EXPECT_EQ(list.HeaderMark(1), soAscending);
    ClickHeader(list, 1);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"gamma", "alpha", "Beta"}));
    auto down = Arrow(soDescending);
    ASSERT_TRUE(down);
    EXPECT_EQ(SectionOf(*down), 1);
    EXPECT_FALSE(Arrow(soAscending));
    // Another column starts ascending; dates sort by value.
    ClickHeader(list, 2);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"Beta", "alpha", "gamma"}));
    up = Arrow(soAscending);
    ASSERT_TRUE(up);
    EXPECT_EQ(SectionOf(*up), 2);
    EXPECT_FALSE(Arrow(soDescending));
}

TEST_F(ListViewExTest, ArrowStandsRightOfTheCaptionLeftOrRightAligned) {
    const QFontMetrics metrics = list.header()->fontMetrics();
    ClickHeader(list, 1);
    auto arrow = Arrow(soAscending);
    ASSERT_TRUE(arrow);
    // Right-aligned: the arrow at the right end, the caption just before it.
    const int sectionRight =
        list.header()->sectionViewportPosition(1) + list.header()->sectionSize(1);
    EXPECT_GT(arrow->x(), sectionRight - 20);
    EXPECT_EQ(*arrow, static_cast<SortHeader*>(list.header())->ArrowRect(1).topLeft());
    ClickHeader(list, 0);
    arrow = Arrow(soAscending);
    ASSERT_TRUE(arrow);
    EXPECT_GT(arrow->x(), metrics.horizontalAdvance("Name"));
    EXPECT_LT(arrow->x(), metrics.horizontalAdvance("Name") + 25);
}

TEST_F(ListViewExTest, ArrowStaysAfterResizingTheColumnAndTheList) {
    ClickHeader(list, 0);
    ClickHeader(list, 0);
    // Drag the border between the first two columns 40 pixels to the right.
    QWidget* header = list.header()->viewport();
    const QPoint border(list.header()->sectionSize(0) - 1, list.header()->height() / 2);
    QTest::mousePress(header, Qt::LeftButton, {}, border);
    QTest::mouseMove(header, border + QPoint(40, 0));
    QTest::mouseRelease(header, Qt::LeftButton, {}, border + QPoint(40, 0));
    EXPECT_EQ(list.header()->sectionSize(0), 160);
    auto arrow = Arrow(soDescending);
    ASSERT_TRUE(arrow);
    EXPECT_EQ(SectionOf(*arrow), 0);
    list.resize(250, 150);
    QTest::qWait(10);
    arrow = Arrow(soDescending);
    ASSERT_TRUE(arrow);
    EXPECT_EQ(SectionOf(*arrow), 0);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"gamma", "Beta", "alpha"}));
}

TEST_F(ListViewExTest, SelectionAndOwnersOrderFollowTheRows) {
    list.SetOnCompare([](const ListItem& a, const ListItem& b, int column) {
        return column == 0 ? int(a.caption.size()) - int(b.caption.size()) : 0;
    });
    list.selectionModel()->select(list.model()->index(1, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ClickHeader(list, 0);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"Beta", "gamma", "alpha"}));
    ASSERT_NE(list.FirstSelectedItem(), nullptr);
    EXPECT_EQ(list.FirstSelectedItem()->caption, "alpha");
    list.onCustomDrawItem = [](const ListItem& item) {
        return item.caption == "gamma" ? QColor(0, 0, 255) : QColor();
    };
    EXPECT_EQ(list.model()->index(1, 2).data(Qt::ForegroundRole).value<QColor>(),
              QColor(0, 0, 255));
    EXPECT_FALSE(list.model()->index(0, 0).data(Qt::ForegroundRole).isValid());
}

TEST_F(ListViewExTest, NarrowCellsShowTheirWholeTextAsATip) {
    list.AddItems({Row("a name far too long for a column this narrow", {"1 KB"})});
    list.setColumnWidth(0, 60);
    const auto tipAt = [&](int row, int column) {
        const QRect cell = list.visualRect(list.model()->index(row, column));
        QHelpEvent help(QEvent::ToolTip, cell.center(),
                        list.viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(list.viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
    };
    EXPECT_EQ(tipAt(3, 1), "");
    EXPECT_EQ(tipAt(0, 2), "");
    EXPECT_EQ(tipAt(3, 0), "a name far too long for a column this narrow");
    // A row's hint (a link, a greyed row) is its tip on every cell, after the cut-off text.
    ListItem link = Row("ln", {"0 KB"});
    link.hint = "A link: not followed, counted as 0 bytes.";
    ListItem greyed = Row("a greyed folder with a long name", {"1 KB"});
    greyed.hint = "2 entries in it could not be read.";
    list.AddItems({link, greyed});
    EXPECT_EQ(tipAt(4, 0), link.hint);
    EXPECT_EQ(tipAt(4, 1), link.hint);
    EXPECT_EQ(tipAt(5, 0), greyed.caption + "\n" + greyed.hint);
}

TEST_F(ListViewExTest, ExplorerFontOrTheParentsFont) {
    QWidget parent;
    QFont small = parent.font();
    small.setPointSize(7);
    parent.setFont(small);
    TListViewEx child(&parent);
    EXPECT_TRUE(child.UseExplorerFontSettings());
    EXPECT_EQ(child.font(), QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    child.SetUseExplorerFontSettings(false);
    EXPECT_EQ(child.font().pointSize(), 7);
}

TEST(ListViewExSettingsTest, AutoSaveSettingsRoundTrip) {
    {
        QSettings settings("QEL Software", "Packmeter");
        settings.remove("Files");
    }
    {
        TListViewEx list;
        list.setObjectName("Files");
        list.AddColumn("Name", 100);
        list.AddColumn("Size", 60);
        list.SetAutoSaveSettings(true);
        list.Loaded();
        list.SetSortOrder(soDescending);
        list.SetSortColumn(1);
        list.setColumnWidth(0, 133);
    }
    {
        QSettings settings("QEL Software", "Packmeter");
        settings.beginGroup("Files");
        EXPECT_EQ(settings.value("SortColumn").toString(), "1");
        EXPECT_EQ(settings.value("SortOrder").toString(), "2");
        EXPECT_EQ(settings.value("ListColumn0/Width").toString(), "133");
        EXPECT_EQ(settings.value("ListColumn1/Width").toString(), "60");
    }
    TListViewEx loaded;
    loaded.setObjectName("Files");
    loaded.AddColumn("Name", 100);
    loaded.AddColumn("Size", 60);
    loaded.SetAutoSaveSettings(true);
    loaded.Loaded();
    EXPECT_EQ(loaded.SortColumn(), 1);
    EXPECT_EQ(loaded.SortOrder(), soDescending);
    EXPECT_EQ(loaded.HeaderMark(1), soDescending);
    EXPECT_EQ(loaded.columnWidth(0), 133);
    // Off (as in the program's window): nothing is read.
    TListViewEx off;
    off.setObjectName("Files");
    off.AddColumn("Name", 100);
    off.Loaded();
    EXPECT_EQ(off.SortColumn(), -1);
    EXPECT_EQ(off.columnWidth(0), 100);
}

}  // namespace
}  // namespace packmeter::qt

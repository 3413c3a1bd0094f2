#pragma once

#include <QColor>
#include <QHeaderView>
#include <QTreeView>
#include <functional>
#include <memory>
#include <vector>

#include "core/listview/list_item.hpp"
#include "core/listview/list_view_ex_logic.hpp"
#include "core/listview/report_list.hpp"
#include "gui/qt/listview/qt_list_locale.hpp"

namespace packmeter::qt {

class TQelSystemImageList;
class ListModel;
class SortHeader;

// The report list: rows with a caption and sub-items under column headers, sorted by a chosen
// column in a chosen direction with an arrow on the sorted column's header.
class TListViewEx : public QTreeView, public ReportList, private ListViewExHost {
    Q_OBJECT

  public:
    explicit TListViewEx(QWidget* parent = nullptr);
    ~TListViewEx() override;

    void AddColumn(const QString& caption, int width, Qt::Alignment alignment = Qt::AlignLeft);
    // The tool tip of a column's header.
    void SetColumnHint(int column, const QString& hint);
    int ColumnCount() const override;

    void AddItems(std::vector<ListItem> items);
    void Clear();
    // Row `row` takes `item`'s further columns, keys and hint in place: its caption, icon and
    // position stay, and the list is not sorted again.
    void UpdateItem(int row, const ListItem& item);
    int ItemCount() const override;
    const ListItem& Item(int row) const override;
    std::string ColumnCaption(int column) const override;
    bool ColumnAlignedRight(int column) const override;
    bool HasFocus() const override { return hasFocus(); }
    // The first selected row in list order, or nullptr.
    const ListItem* FirstSelectedItem() const;
    // The icons of the rows' image indexes (not owned).
    void SetSmallImages(TQelSystemImageList* images);

    TSortOption SortOrder() const { return logic_.SortOrder(); }
    void SetSortOrder(TSortOption order) { logic_.SetSortOrder(order); }
    int SortColumn() const { return logic_.SortColumn(); }
    void SetSortColumn(int column) { logic_.SetSortColumn(column); }
    bool AutoResort() const { return logic_.AutoResort(); }
    void SetAutoResort(bool on) { logic_.SetAutoResort(on); }
    bool AutoSaveSettings() const { return logic_.AutoSaveSettings(); }
    void SetAutoSaveSettings(bool on) { logic_.SetAutoSaveSettings(on); }
    bool UseExplorerFontSettings() const { return explorerFont_; }
    void SetUseExplorerFontSettings(bool on);

    void Resort() { logic_.Resort(); }
    bool SortByProcedure(const ListSortProc& proc, int data) {
        return logic_.SortByProcedure(proc, data);
    }
    int DefaultCompare(const ListItem* a, const ListItem* b, int data) const {
        return logic_.DefaultCompare(a, b, data);
    }
    // The owner's comparison of two rows by the column passed as data.
    void SetOnCompare(ListCompareEvent handler) { logic_.onCompare = std::move(handler); }
    // The owner's keys for that comparison, which make sorting and merging many rows fast.
    void SetOnSortKey(ListSortKeyEvent handler) { logic_.onSortKey = std::move(handler); }
    TSortOption HeaderMark(int column) const { return logic_.HeaderMark(column); }

    // Called before a row is drawn: its text colour, or an invalid colour for the default.
    std::function<QColor(const ListItem&)> onCustomDrawItem;
    // A double-click anywhere on the list.
    std::function<void()> onDblClick;
    // The column-click event, raised before the clicked column is sorted.
    std::function<void(int column)> onColumnClick;

    // The owner has finished setting the list up: with AutoSaveSettings, the saved sort state
    // and column widths are loaded. They are saved when the list is destroyed.
    void Loaded();

    // The tool tip of the row under `pos` (viewport coordinates): the cell's whole text when it
    // is cut off, then the row's hint; empty when there is nothing to say.
    QString RowTipAt(const QPoint& pos) const;

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Info tips: the whole text of a cell too narrow for it, while the mouse rests on it.
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class ListModel;
    friend class SortHeader;

    int ColumnWidth(int column) const override;
    void SetColumnWidth(int column, int width) override;
    bool SortRows(const ItemOrder& order) override;
    void MergeRows(std::size_t firstNew, const ItemOrder& order) override;
    bool SortRowsByKey(const ItemOrder& order, const ItemKey& key) override;
    void MergeRowsByKey(std::size_t firstNew, const ItemOrder& order, const ItemKey& key) override;
    // The keys of the rows from row `from` on (those before are kept).
    void MakeKeys(std::size_t from, const ItemKey& key);
    void HeaderMarkChanged(int column) override;
    void ColumnClicked(int column) override;
    void HeaderClicked(int column);
    void SaveSettingsNow();

    QtListLocale locale_;
    ListViewExLogic logic_;
    ListModel* model_;
    SortHeader* header_;
    TQelSystemImageList* images_ = nullptr;
    bool explorerFont_ = true;
};

// The header of a TListViewEx: draws the list's sort arrow right of the sorted column's caption.
class SortHeader : public QHeaderView {
    Q_OBJECT

  public:
    explicit SortHeader(TListViewEx& list);

    // Where the arrow of `column` is drawn, in header coordinates; empty when it has none.
    QRect ArrowRect(int column) const;
    void RedrawSection(int column) { updateSection(column); }

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    struct Layout {
        QRect text;
        QRect arrow;
    };
    Layout SectionLayout(const QRect& rect, int logicalIndex) const;

    TListViewEx& list_;
};

}  // namespace packmeter::qt

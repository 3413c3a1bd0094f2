#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/listview/list_item.hpp"
#include "core/listview/list_locale.hpp"
#include "core/listview/sort_option.hpp"

namespace packmeter {

// The comparison that a list's owner assigns (the list's OnCompare event): negative when `a`
// belongs before `b` in ascending order; `data` is the sorted column. The owner applies the
// descending direction itself.
using ListCompareEvent = std::function<int(const ListItem& a, const ListItem& b, int data)>;
// A sort procedure of the list. Either item may be missing; `data` is what the sort passes on.
using ListSortProc = std::function<int(const ListItem* a, const ListItem* b, int data)>;
// The key of a row that orders rows by `column` ascending as the owner's comparison does, as
// far as it can: when a row's key is smaller, the comparison puts it first; rows with equal keys
// are compared in full.
using ListSortKeyEvent = std::function<SortKey(const ListItem& item, int column)>;

// What the control that shows a report list does for the list's logic.
class ListViewExHost {
  public:
    virtual ~ListViewExHost() = default;
    virtual int ColumnCount() const = 0;
    virtual int ColumnWidth(int column) const = 0;
    virtual void SetColumnWidth(int column, int width) = 0;
    // Reorders the rows by `order`; false when the control cannot sort now.
    virtual bool SortRows(const ItemOrder& order) = 0;
    // Rows from `firstNew` on were just added to rows sorted by `order`: puts each in its place
    // (see MergedOrder), keeping the selection and the focused row with their rows.
    virtual void MergeRows(std::size_t /*firstNew*/, const ItemOrder& /*order*/) {}
    // The same with each row's key (see ItemKey), which a control may keep beside its rows so
    // that sorting and merging compare numbers rather than rows; by default the keys are unused.
    virtual bool SortRowsByKey(const ItemOrder& order, const ItemKey& /*key*/) {
        return SortRows(order);
    }
    virtual void MergeRowsByKey(std::size_t firstNew, const ItemOrder& order,
                                const ItemKey& /*key*/) {
        MergeRows(firstNew, order);
    }
    // The header item of `column` has to be drawn again: its mark changed.
    virtual void HeaderMarkChanged(int column) = 0;
    // The column-click event of the control, raised before the clicked column is sorted.
    virtual void ColumnClicked(int /*column*/) {}
};

// Where a list keeps its settings: values by name under the list's own key (empty `key`) or
// under a subkey of it. Values are decimal texts.
class ListSettingsStore {
  public:
    virtual ~ListSettingsStore() = default;
    virtual std::optional<std::string> Read(const std::string& key, const std::string& name) = 0;
    virtual void Write(const std::string& key, const std::string& name,
                       const std::string& value) = 0;
};

// The sort state of a report list, the sort marks of its header, its built-in comparison and
// its stored settings. The control that shows the list forwards clicks, size changes and the
// end of header drags here and draws the marks that HeaderMark reports.
class ListViewExLogic {
  public:
    ListViewExLogic(ListViewExHost& host, const ListLocale& locale);

    TSortOption SortOrder() const { return sortOrder_; }
    void SetSortOrder(TSortOption order);
    int SortColumn() const { return sortColumn_; }
    void SetSortColumn(int column);
    bool AutoResort() const { return autoResort_; }
    void SetAutoResort(bool on) { autoResort_ = on; }
    bool AutoSaveSettings() const { return autoSaveSettings_; }
    void SetAutoSaveSettings(bool on) { autoSaveSettings_ = on; }

    // The owner's comparison; while one is assigned, Resort uses it instead of DefaultCompare.
    ListCompareEvent onCompare;
    // The owner's keys for its comparison (used only together with onCompare).
    ListSortKeyEvent onSortKey;

    // The user clicked the header of `column`: the first click sorts ascending, a further
    // click on the same column toggles the direction, another column starts ascending again.
    void ColumnClick(int column);
    // Sorts the rows now by the sort column.
    void Resort();
    // Rows from `firstNew` on have just been added. While a column is marked as sorted, they
    // go to their places in its order, so that the arrow always tells the order of the rows.
    void RowsAdded(std::size_t firstNew);
    // Sorts with `proc` (which is kept for later sorts) or, without one, with the standard
    // comparison: the owner's comparison, else the captions as text.
    bool SortByProcedure(const ListSortProc& proc, int data);
    // The built-in comparison: dates and times by value, then numbers by value, then text by
    // the user's collation, on the texts of the sort column; reversed for a descending sort.
    // Pairs that cannot be compared are equal.
    int DefaultCompare(const ListItem* a, const ListItem* b, int data) const;

    // Marks `column` with the arrow of `order` when it is the sort column, else unmarks it.
    void UpdateHeaderMark(int column, TSortOption order);
    // The mark the header shows on `column`: soNone for none.
    TSortOption HeaderMark(int column) const;
    // After a size change, or when a drag or click on the header has ended.
    void RestoreSortMark() { UpdateHeaderMark(sortColumn_, sortOrder_); }

    // Reads the sort state and the column widths from `store`, keeping the current value of
    // every setting that is missing or not a decimal integer.
    void LoadSettings(ListSettingsStore& store);
    void SaveSettings(ListSettingsStore& store) const;

  private:
    // The order and the keys of the owner's comparison by column `data`, in the sort's direction.
    ItemOrder OwnerOrder(int data) const;
    ItemKey OwnerKey(int data) const;

    ListViewExHost& host_;
    const ListLocale& locale_;
    TSortOption sortOrder_ = soNone;
    int sortColumn_ = -1;
    bool autoResort_ = true;
    bool autoSaveSettings_ = false;
    ListSortProc sortProc_;
    std::vector<TSortOption> marks_;
};

// The value of a text that reads as a date, a time or both under `locale`.
std::optional<double> DateTimeValue(std::string_view text, const ListLocale& locale);
// The value of a text whose first word reads as a number, plainly or in the locale's notation.
std::optional<double> NumberValue(std::string_view text, const ListLocale& locale);
// A settings value: an optionally signed decimal integer.
std::optional<int> SettingValue(std::string_view text);

}  // namespace packmeter

#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/listview/list_item.hpp"
#include "core/listview/list_view_ex_logic.hpp"
#include "core/listview/report_list.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/listview/win_list_locale.hpp"

namespace packmeter::win32 {

struct ColumnSetup {
    std::wstring caption;
    int width;
    int format;  // LVCFMT_LEFT or LVCFMT_RIGHT
};

// The report list on the common-controls list view: the rows live here and the control asks
// for their texts (owner data), so that adding many rows costs no control items. Sorting, the
// header's sort arrow and the stored settings are decided by ListViewExLogic.
class TListViewEx final : public ReportList, private ListViewExHost {
  public:
    TListViewEx();
    ~TListViewEx() override;
    TListViewEx(const TListViewEx&) = delete;
    TListViewEx& operator=(const TListViewEx&) = delete;

    // Makes the control as a child of `parent`; `name` is the list's name for its settings.
    bool Create(HWND parent, int id, const std::string& name,
                const std::vector<ColumnSetup>& columns);
    HWND Hwnd() const { return hwnd_; }
    HWND Header() const { return header_; }
    const std::string& Name() const { return name_; }

    // Adds rows at the end, or each at its place while a column is marked as sorted.
    void AddItems(std::vector<ListItem> items);
    // Draws the rows and the header in `font` (not owned) from now on.
    void UseFont(HFONT font);
    void Clear();
    int ItemCount() const override { return int(rows_.size()); }
    const ListItem& Item(int row) const override { return items_.at(rows_.at(std::size_t(row))); }
    std::string ColumnCaption(int column) const override;
    bool ColumnAlignedRight(int column) const override;
    bool HasFocus() const override { return hwnd_ && ::GetFocus() == hwnd_; }
    const ListItem* FirstSelectedItem() const;
    std::vector<int> SelectedRows() const;
    void SelectAll();
    void ClearSelection();
    // The row takes `item`'s further columns, keys and hint; its caption, icon and place stay.
    void UpdateItem(int row, const ListItem& item);
    void SetSmallImages(HIMAGELIST images);

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
    // The application's title, the first part of the settings' registry key.
    void SetApplicationTitle(std::string title) { applicationTitle_ = std::move(title); }
    // "Software\QEL Software\<title>\<name>" under HKEY_CURRENT_USER.
    std::wstring SettingsKey() const;

    void Resort() { logic_.Resort(); }
    void SetOnCompare(ListCompareEvent handler) { logic_.onCompare = std::move(handler); }
    int DefaultCompare(const ListItem* a, const ListItem* b, int data) const {
        return logic_.DefaultCompare(a, b, data);
    }
    TSortOption HeaderMark(int column) const { return logic_.HeaderMark(column); }
    // The arrow bitmap shown for `order` (not owned).
    HBITMAP ArrowBitmap(TSortOption order) const;

    // The text colour of a row, or nothing for the list's own.
    std::function<std::optional<COLORREF>(const ListItem&)> onCustomDrawItem;
    // The icon of a row marked IconSource::kOwnIcon, asked when the row is first drawn.
    std::function<int(const ListItem&)> onOwnIcon;
    std::function<void()> onDblClick;
    std::function<void(int column)> onColumnClick;
    // The list's client area changed size (also when a scroll bar comes or goes).
    std::function<void()> onResize;

    // What a sorted column's header needs beside its caption's text: the header's text margins,
    // the arrow bitmap and the margins the header keeps around it, as the header control lays
    // them out.
    int ArrowSpace() const;

    // The owner has set the list up: with AutoSaveSettings the stored settings are loaded.
    void Loaded();
    // The parent forwards WM_NOTIFY from the list here; true when handled, with the result.
    bool HandleNotify(const NMHDR& header, LRESULT& result);

  private:
    int ColumnCount() const override;
    int ColumnWidth(int column) const override;
    void SetColumnWidth(int column, int width) override;
    bool SortRows(const ItemOrder& order) override;
    void MergeRows(std::size_t firstNew, const ItemOrder& order) override;
    // Puts the rows in the order of their old positions; selection and focus follow them.
    void Reorder(const std::vector<std::size_t>& sorted);
    void HeaderMarkChanged(int column) override;
    void ColumnClicked(int column) override;

    void BuildArrows();
    void ApplyFont(HFONT font);
    void SaveSettingsNow();
    LRESULT CustomDraw(NMLVCUSTOMDRAW& draw);
    static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK HeaderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self);

    WinListLocale locale_;
    ListViewExLogic logic_;
    ListItem& At(std::size_t row) { return items_[rows_[row]]; }
    const ListItem& At(std::size_t row) const { return items_[rows_[row]]; }

    // The rows in the order they came; `rows_` holds their places as shown (row r shows
    // items_[rows_[r]]), so sorting and merging move 4-byte positions, never the rows.
    ListItemStore items_;
    std::vector<std::uint32_t> rows_;
    HWND hwnd_ = nullptr;  // destroyed with its parent
    HWND header_ = nullptr;
    std::string name_;
    std::string applicationTitle_;
    UniqueBitmap upArrow_;
    UniqueBitmap downArrow_;
    UniqueFont font_;
    bool explorerFont_ = true;
    std::wstring dispText_;
};

}  // namespace packmeter::win32

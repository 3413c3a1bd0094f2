#include "gui/win32/listview/list_view_ex.hpp"

#include <windowsx.h>

#include <algorithm>

#include "core/fs/filesystem.hpp"
#include "core/listview/header_arrow.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

constexpr COLORREF kResourceBackground = RGB(192, 192, 192);

// The list's settings in the registry: values as decimal texts under the list's key or a
// subkey of it. The key is opened on first use and kept while the store lives.
class RegistrySettingsStore final : public ListSettingsStore {
  public:
    explicit RegistrySettingsStore(const std::wstring& path) {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr) == ERROR_SUCCESS) {
            key_.reset(key);
        }
    }

    std::optional<std::string> Read(const std::string& key, const std::string& name) override {
        const UniqueKey sub = Open(key);
        if (!sub) {
            return std::nullopt;
        }
        const std::wstring value = win::ToWide(name);
        DWORD type = 0;
        DWORD bytes = 0;
        if (::RegQueryValueExW(sub.get(), value.c_str(), nullptr, &type, nullptr, &bytes) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = DWORD(text.size() * sizeof(wchar_t));
        if (::RegQueryValueExW(sub.get(), value.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(text.data()), &bytes) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        text.resize(std::wcslen(text.c_str()));
        return win::ToUtf8(text);
    }

    void Write(const std::string& key, const std::string& name, const std::string& value) override {
        const UniqueKey sub = Open(key);
        if (!sub) {
            return;
        }
        const std::wstring text = win::ToWide(value);
        ::RegSetValueExW(sub.get(), win::ToWide(name).c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(text.c_str()),
                         DWORD((text.size() + 1) * sizeof(wchar_t)));
    }

  private:
    UniqueKey Open(const std::string& subkey) const {
        if (!key_) {
            return nullptr;
        }
        HKEY key = nullptr;
        if (::RegCreateKeyExW(key_.get(), win::ToWide(subkey).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return nullptr;
        }
        return UniqueKey(key);
    }

    UniqueKey key_;
};

// The hourglass while the list sorts; the previous cursor comes back however the sort ends.
class WaitCursor {
  public:
    WaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { ::SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    HCURSOR previous_;
};

// The arrow resource copied onto the header's face colour, its edge pixels in the header's text
// colour (the resource's grey and white outline is all but lost on a light face), each as a
// square that grows with the screen's dots per inch.
UniqueBitmap ArrowOnButtonFace(const wchar_t* resource) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const UniqueBitmap source(static_cast<HBITMAP>(
        ::LoadImageW(instance, resource, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!source) {
        return nullptr;
    }
    BITMAP info{};
    ::GetObjectW(source.get(), sizeof(info), &info);
    UniqueBitmap copy;
    {
        const WindowDc screen(nullptr);
        const int pixel =
            ArrowPixelSize(::MulDiv(8, ::GetDeviceCaps(screen.get(), LOGPIXELSX), 96));
        copy.reset(
            ::CreateCompatibleBitmap(screen.get(), info.bmWidth * pixel, info.bmHeight * pixel));
        const UniqueDc from(::CreateCompatibleDC(screen.get()));
        const UniqueDc to(::CreateCompatibleDC(screen.get()));
        const SelectedObject fromSelected(from.get(), source.get());
        const SelectedObject toSelected(to.get(), copy.get());
        const RECT all{0, 0, info.bmWidth * pixel, info.bmHeight * pixel};
        ::FillRect(to.get(), &all, ::GetSysColorBrush(COLOR_BTNFACE));
        for (int y = 0; y < info.bmHeight; ++y) {
            for (int x = 0; x < info.bmWidth; ++x) {
                if (::GetPixel(from.get(), x, y) != kResourceBackground) {
                    const RECT dot{x * pixel, y * pixel, (x + 1) * pixel, (y + 1) * pixel};
                    ::FillRect(to.get(), &dot, ::GetSysColorBrush(COLOR_BTNTEXT));
                }
            }
        }
    }
    return copy;
}

}  // namespace

TListViewEx::TListViewEx() : logic_(*this, locale_) {
    BuildArrows();
    logic_.SetSortOrder(soNone);
    logic_.SetSortColumn(-1);
    logic_.onCompare = nullptr;
}

TListViewEx::~TListViewEx() {
    if (header_) {
        ::RemoveWindowSubclass(header_, &TListViewEx::HeaderProc, 1);
    }
    if (hwnd_) {
        ::RemoveWindowSubclass(hwnd_, &TListViewEx::ListProc, 1);
    }
}

void TListViewEx::BuildArrows() {
    upArrow_ = ArrowOnButtonFace(L"LV_ARROWUP");
    downArrow_ = ArrowOnButtonFace(L"LV_ARROWDOWN");
}

HBITMAP TListViewEx::ArrowBitmap(TSortOption order) const {
    return order == soDescending  ? downArrow_.get()
           : order == soAscending ? upArrow_.get()
                                  : nullptr;
}

int TListViewEx::ArrowSpace() const {
    BITMAP arrow{};
    if (!upArrow_ || !::GetObjectW(upArrow_.get(), sizeof(arrow), &arrow)) {
        arrow.bmWidth = 8;
    }
    // The header keeps its bitmap margin on either side of the caption and of the bitmap
    // (three edges when it cannot be asked), and a pixel for the divider.
    int margin = header_ ? int(::SendMessageW(header_, HDM_GETBITMAPMARGIN, 0, 0)) : 0;
    if (margin <= 0) {
        margin = 3 * ::GetSystemMetrics(SM_CXEDGE);
    }
    return 4 * margin + int(arrow.bmWidth) + 2;
}

bool TListViewEx::Create(HWND parent, int id, const std::string& name,
                         const std::vector<ColumnSetup>& columns) {
    name_ = name;
    // Owner data: the control keeps no row texts, and the shared system image list is never
    // destroyed by it.
    hwnd_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT |
                                  LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS,
                              0, 0, 0, 0, parent, reinterpret_cast<HMENU>(INT_PTR(id)),
                              ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) {
        return false;
    }
    ListView_SetExtendedListViewStyleEx(hwnd_, LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER,
                                        LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
    int index = 0;
    for (const ColumnSetup& setup : columns) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = const_cast<wchar_t*>(setup.caption.c_str());
        column.cx = setup.width;
        column.fmt = setup.format;
        ::SendMessageW(hwnd_, LVM_INSERTCOLUMNW, WPARAM(index++), LPARAM(&column));
    }
    header_ = ListView_GetHeader(hwnd_);
    ::SetWindowSubclass(hwnd_, &TListViewEx::ListProc, 1, DWORD_PTR(this));
    if (header_) {
        ::SetWindowSubclass(header_, &TListViewEx::HeaderProc, 1, DWORD_PTR(this));
    }
    SetUseExplorerFontSettings(explorerFont_);
    return true;
}

void TListViewEx::AddItems(std::vector<ListItem> items) {
    if (items.empty()) {
        return;
    }
    const std::size_t first = rows_.size();
    for (ListItem& item : items) {
        rows_.push_back(std::uint32_t(items_.size()));
        items_.push_back(std::move(item));
    }
    if (hwnd_) {
        ::SendMessageW(hwnd_, LVM_SETITEMCOUNT, WPARAM(rows_.size()),
                       LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    }
    logic_.RowsAdded(first);
}

void TListViewEx::UseFont(HFONT font) {
    if (hwnd_) {
        ApplyFont(font);
    }
}

void TListViewEx::Clear() {
    items_.clear();
    rows_.clear();
    rows_.shrink_to_fit();
    if (hwnd_) {
        ::SendMessageW(hwnd_, LVM_SETITEMCOUNT, 0, 0);
        ::InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

std::vector<int> TListViewEx::SelectedRows() const {
    std::vector<int> rows;
    if (!hwnd_) {
        return rows;
    }
    int row = -1;
    while ((row = ListView_GetNextItem(hwnd_, row, LVNI_SELECTED)) >= 0 &&
           row < int(rows_.size())) {
        rows.push_back(row);
    }
    return rows;
}

const ListItem* TListViewEx::FirstSelectedItem() const {
    if (!hwnd_) {
        return nullptr;
    }
    const int row = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED);
    return row >= 0 && row < int(rows_.size()) ? &At(std::size_t(row)) : nullptr;
}

void TListViewEx::SelectAll() {
    if (hwnd_) {
        ListView_SetItemState(hwnd_, -1, LVIS_SELECTED, LVIS_SELECTED);
    }
}

void TListViewEx::ClearSelection() {
    if (hwnd_) {
        ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED);
    }
}

void TListViewEx::UpdateItem(int row, const ListItem& item) {
    TakeFigures(items_.at(rows_.at(std::size_t(row))), item);
    if (hwnd_) {
        ListView_RedrawItems(hwnd_, row, row);
    }
}

void TListViewEx::SetSmallImages(HIMAGELIST images) {
    if (hwnd_) {
        ListView_SetImageList(hwnd_, images, LVSIL_SMALL);
    }
}

void TListViewEx::SetUseExplorerFontSettings(bool on) {
    explorerFont_ = on;
    if (!hwnd_) {
        return;
    }
    LOGFONTW iconTitle{};
    if (on && ::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(iconTitle), &iconTitle, 0)) {
        UniqueFont font(::CreateFontIndirectW(&iconTitle));
        if (font) {
            ApplyFont(font.get());
            font_ = std::move(font);
            return;
        }
    }
    ApplyFont(reinterpret_cast<HFONT>(::SendMessageW(::GetParent(hwnd_), WM_GETFONT, 0, 0)));
    font_.reset();
}

void TListViewEx::ApplyFont(HFONT font) {
    ::SendMessageW(hwnd_, WM_SETFONT, WPARAM(font), TRUE);
    // Not every list view hands its font on to its header.
    if (header_) {
        ::SendMessageW(header_, WM_SETFONT, WPARAM(font), TRUE);
    }
}

std::wstring TListViewEx::SettingsKey() const {
    return L"Software\\QEL Software\\" + win::ToWide(applicationTitle_) + L"\\" +
           win::ToWide(name_);
}

void TListViewEx::Loaded() {
    if (AutoSaveSettings()) {
        RegistrySettingsStore store(SettingsKey());
        logic_.LoadSettings(store);
    }
}

void TListViewEx::SaveSettingsNow() {
    RegistrySettingsStore store(SettingsKey());
    logic_.SaveSettings(store);
}

int TListViewEx::ColumnCount() const {
    return header_ ? Header_GetItemCount(header_) : 0;
}

std::string TListViewEx::ColumnCaption(int column) const {
    wchar_t text[256] = {};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = text;
    info.cchTextMax = int(std::size(text));
    if (!hwnd_ || !ListView_GetColumn(hwnd_, column, &info)) {
        return {};
    }
    return win::ToUtf8(text);
}

bool TListViewEx::ColumnAlignedRight(int column) const {
    LVCOLUMNW info{};
    info.mask = LVCF_FMT;
    return hwnd_ && ListView_GetColumn(hwnd_, column, &info) &&
           (info.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT;
}

int TListViewEx::ColumnWidth(int column) const {
    return hwnd_ ? ListView_GetColumnWidth(hwnd_, column) : 0;
}

void TListViewEx::SetColumnWidth(int column, int width) {
    if (hwnd_) {
        ListView_SetColumnWidth(hwnd_, column, width);
    }
}

bool TListViewEx::SortRows(const ItemOrder& order) {
    if (!hwnd_) {
        return false;
    }
    Reorder(SortedOrder(items_, rows_, order));
    return true;
}

void TListViewEx::MergeRows(std::size_t firstNew, const ItemOrder& order) {
    if (hwnd_) {
        Reorder(MergedOrder(items_, rows_, firstNew, order));
    }
}

void TListViewEx::Reorder(const std::vector<std::size_t>& sorted) {
    // The selection and the focus follow their rows.
    std::vector<char> selected(rows_.size(), 0);
    for (const int row : SelectedRows()) {
        selected[std::size_t(row)] = 1;
    }
    const int focused = ListView_GetNextItem(hwnd_, -1, LVNI_FOCUSED);
    std::vector<std::uint32_t> reordered;
    reordered.reserve(rows_.size());
    for (const std::size_t from : sorted) {
        reordered.push_back(rows_[from]);
    }
    rows_.swap(reordered);
    ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (std::size_t to = 0; to < sorted.size(); ++to) {
        UINT state = selected[sorted[to]] ? LVIS_SELECTED : 0;
        if (int(sorted[to]) == focused) {
            state |= LVIS_FOCUSED;
        }
        if (state) {
            ListView_SetItemState(hwnd_, int(to), state, state);
        }
    }
    ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void TListViewEx::HeaderMarkChanged(int column) {
    if (!header_) {
        return;
    }
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    if (!Header_GetItem(header_, column, &item)) {
        return;
    }
    const HBITMAP arrow = ArrowBitmap(logic_.HeaderMark(column));
    if (arrow) {
        item.mask |= HDI_BITMAP;
        item.fmt |= HDF_BITMAP | HDF_BITMAP_ON_RIGHT;
        item.hbm = arrow;
    } else {
        item.fmt &= ~(HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
    }
    Header_SetItem(header_, column, &item);
}

void TListViewEx::ColumnClicked(int column) {
    if (onColumnClick) {
        onColumnClick(column);
    }
}

bool TListViewEx::HandleNotify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != hwnd_) {
        return false;
    }
    switch (header.code) {
        case LVN_GETDISPINFOW: {
            auto& info = reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header));
            const int row = info.item.iItem;
            if (row < 0 || row >= int(rows_.size())) {
                return false;
            }
            ListItem& item = At(std::size_t(row));
            if ((info.item.mask & LVIF_TEXT) && info.item.pszText && info.item.cchTextMax > 0) {
                dispText_ = win::ToWide(ColumnText(item, info.item.iSubItem));
                const std::size_t room = std::size_t(info.item.cchTextMax) - 1;
                const std::size_t count = std::min(room, dispText_.size());
                std::copy_n(dispText_.c_str(), count, info.item.pszText);
                info.item.pszText[count] = L'\0';
            }
            if (info.item.mask & LVIF_IMAGE) {
                if (item.imageIndex == IconSource::kOwnIcon && info.item.iSubItem == 0) {
                    item.imageIndex = onOwnIcon ? onOwnIcon(item) : -1;
                }
                info.item.iImage = info.item.iSubItem == 0 ? item.imageIndex : I_IMAGENONE;
            }
            result = 0;
            return true;
        }
        case LVN_GETINFOTIPW: {
            // The row's hint as its tool tip, after the text the list view put there (the
            // cut-off caption, when it is cut off).
            auto& tip = reinterpret_cast<NMLVGETINFOTIPW&>(const_cast<NMHDR&>(header));
            const int row = tip.iItem;
            if (row >= 0 && row < int(rows_.size()) && tip.pszText && tip.cchTextMax > 0 &&
                !At(std::size_t(row)).hint.empty()) {
                std::wstring text(tip.pszText);
                if (!text.empty()) {
                    text += L"\r\n";
                }
                text += win::ToWide(At(std::size_t(row)).hint);
                const std::size_t count = std::min(std::size_t(tip.cchTextMax) - 1, text.size());
                std::copy_n(text.c_str(), count, tip.pszText);
                tip.pszText[count] = L'\0';
            }
            result = 0;
            return true;
        }
        case NM_CUSTOMDRAW:
            result = CustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(const_cast<NMHDR&>(header)));
            return true;
        case LVN_COLUMNCLICK: {
            const auto& view = reinterpret_cast<const NMLISTVIEW&>(header);
            const WaitCursor wait;
            logic_.ColumnClick(view.iSubItem);
            result = 0;
            return true;
        }
        case NM_DBLCLK:
            if (onDblClick) {
                onDblClick();
            }
            result = 0;
            return true;
        default:
            return false;
    }
}

LRESULT TListViewEx::CustomDraw(NMLVCUSTOMDRAW& draw) {
    switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            const auto row = std::size_t(draw.nmcd.dwItemSpec);
            if (onCustomDrawItem && row < rows_.size()) {
                if (const auto colour = onCustomDrawItem(At(row))) {
                    draw.clrText = *colour;
                    return CDRF_NEWFONT;
                }
            }
            return CDRF_DODEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

LRESULT CALLBACK TListViewEx::ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR self) {
    auto& list = *reinterpret_cast<TListViewEx*>(self);
    if (message == WM_DESTROY && list.AutoSaveSettings()) {
        list.SaveSettingsNow();
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &TListViewEx::ListProc, 1);
        list.hwnd_ = nullptr;
        return ::DefSubclassProc(hwnd, message, wParam, lParam);
    }
    const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
    if (message == WM_SIZE) {
        list.logic_.RestoreSortMark();
        list.HeaderMarkChanged(list.SortColumn());
        if (list.onResize) {
            list.onResize();
        }
    }
    return result;
}

LRESULT CALLBACK TListViewEx::HeaderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
    auto& list = *reinterpret_cast<TListViewEx*>(self);
    const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &TListViewEx::HeaderProc, 1);
        list.header_ = nullptr;
    } else if (message == WM_CAPTURECHANGED) {
        // A click or a drag on the header has ended: the sort arrow is shown again.
        list.logic_.RestoreSortMark();
        list.HeaderMarkChanged(list.SortColumn());
    }
    return result;
}

}  // namespace packmeter::win32

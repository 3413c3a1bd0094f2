#include "gui/win32/exceptlog/fault_dialog.hpp"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "core/exceptlog/fault_capture.hpp"
#include "gui/win32/framework/screen_fonts.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

using win::ToUtf8;
using win::ToWide;

constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kMargin = 8;
constexpr int kTextLeft = 50;
constexpr int kExpandedHeaderHeight = 52;
constexpr UINT_PTR kGuardTimer = 1;
constexpr COLORREF kCustomColor = RGB(212, 208, 200);

// ---- In-memory dialog templates ----

class DialogTemplate {
  public:
    DialogTemplate(DWORD style, short cx, short cy, const wchar_t* title) {
        Word(1);
        Word(0xFFFF);  // DLGTEMPLATEEX
        Dword(0);
        Dword(0);
        Dword(style | DS_SETFONT);
        countAt_ = data_.size();
        Word(0);
        Word(0);
        Word(0);
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(0);  // no menu
        Word(0);  // default class
        Text(title);
        Word(8);  // points
        Word(FW_NORMAL);
        Word(0);  // italic, charset
        Text(L"MS Sans Serif");
    }

    void Control(int id, const wchar_t* windowClass, const wchar_t* text, DWORD style, short x,
                 short y, short cx, short cy, DWORD exStyle = 0) {
        while (data_.size() % 4) {
            data_.push_back(0);
        }
        Dword(0);
        Dword(exStyle);
        Dword(style | WS_CHILD | WS_VISIBLE);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Dword(static_cast<DWORD>(id));
        Text(windowClass);
        Text(text);
        Word(0);
        ++data_[countAt_];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(data_.data()); }

  private:
    void Word(WORD w) {
        data_.push_back(static_cast<BYTE>(w & 0xFF));
        data_.push_back(static_cast<BYTE>(w >> 8));
    }
    void Dword(DWORD d) {
        Word(static_cast<WORD>(d & 0xFFFF));
        Word(static_cast<WORD>(d >> 16));
    }
    void Text(const wchar_t* text) {
        for (; *text; ++text) {
            Word(static_cast<WORD>(*text));
        }
        Word(0);
    }

    std::vector<BYTE> data_;
    std::size_t countAt_ = 0;
};

// ---- Pictures ----

// A bitmap of the given size drawn by `draw` on a background of `back`.
template <class Draw>
HBITMAP DrawBitmap(int size, COLORREF back, Draw draw) {
    const WindowDc screen(nullptr);
    const UniqueDc dc(::CreateCompatibleDC(screen.get()));
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen.get(), size, size);
    const SelectedObject selected(dc.get(), bitmap);
    RECT all{0, 0, size, size};
    UniqueBrush fill(::CreateSolidBrush(back));
    ::FillRect(dc.get(), &all, fill.get());
    draw(dc.get());
    return bitmap;
}

void Box(HDC dc, int l, int t, int r, int b, COLORREF fill) {
    UniqueBrush brush(::CreateSolidBrush(fill));
    RECT rect{l, t, r, b};
    ::FillRect(dc, &rect, brush.get());
    ::FrameRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

constexpr COLORREF kMaskColor = RGB(255, 0, 255);

HBITMAP RowBitmap(FaultRowImage image) {
    return DrawBitmap(16, kMaskColor, [image](HDC dc) {
        switch (image) {
            case FaultRowImage::kExecutable:
                Box(dc, 1, 2, 15, 14, RGB(255, 255, 255));
                Box(dc, 1, 2, 15, 5, RGB(0, 0, 128));
                break;
            case FaultRowImage::kPackage:
                Box(dc, 2, 4, 14, 14, RGB(200, 150, 80));
                ::MoveToEx(dc, 8, 4, nullptr);
                ::LineTo(dc, 8, 14);
                break;
            case FaultRowImage::kLibrary:
                Box(dc, 2, 2, 14, 14, RGB(192, 192, 192));
                Box(dc, 5, 5, 11, 11, RGB(128, 128, 128));
                break;
            case FaultRowImage::kUnit:
                Box(dc, 3, 1, 13, 15, RGB(255, 255, 255));
                for (int y = 4; y <= 11; y += 2) {
                    ::MoveToEx(dc, 5, y, nullptr);
                    ::LineTo(dc, 11, y);
                }
                break;
        }
    });
}

HBITMAP MonitorBitmap(COLORREF back) {
    return DrawBitmap(32, back, [](HDC dc) {
        Box(dc, 1, 2, 31, 24, RGB(192, 192, 192));
        Box(dc, 4, 5, 28, 21, RGB(0, 0, 128));
        Box(dc, 12, 24, 20, 27, RGB(192, 192, 192));
        Box(dc, 7, 27, 25, 31, RGB(192, 192, 192));
        UniquePen red(::CreatePen(PS_SOLID, 3, RGB(255, 64, 64)));
        const SelectedObject selected(dc, red.get());
        ::MoveToEx(dc, 10, 8, nullptr);
        ::LineTo(dc, 22, 18);
        ::MoveToEx(dc, 22, 8, nullptr);
        ::LineTo(dc, 10, 18);
    });
}

// ---- Files ----

std::string ReadFileText(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

FaultDialogCoordinates LoadCoordinates() {
    std::string text = ReadFileText(FaultDialogCoordinatesFile());
    if (text.empty()) {
        text = ReadFileText(FaultDialogLegacyCoordinatesFile());
    }
    return ReadDialogCoordinates(text);
}

// Failures are ignored: the defaults apply next time.
void StoreCoordinates(const FaultDialogCoordinates& coordinates) {
    const std::wstring path = FaultDialogCoordinatesFile();
    const std::string text = WriteDialogCoordinates(ReadFileText(path), coordinates);
    std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc) << text;
}

// ---- The dialog ----

class FaultDialog {
  public:
    explicit FaultDialog(const FaultDialogData& data) : data_(data) {}

    FaultDialogResult Run() {
        DialogTemplate dialog(
            DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 473,
            216, ToWide(data_.caption).c_str());
        dialog.Control(kFaultTerminateButton, L"BUTTON", L"", BS_PUSHBUTTON | WS_TABSTOP, 4, 197,
                       50, 15);
        dialog.Control(kFaultCloseButton, L"BUTTON", L"", BS_DEFPUSHBUTTON | WS_TABSTOP, 211, 197,
                       50, 15);
        dialog.Control(kFaultDetailsButton, L"BUTTON", L"", BS_PUSHBUTTON | WS_TABSTOP, 419, 197,
                       50, 15);
        dialog.Control(kFaultHeader, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 33, 5, 435, 26);
        dialog.Control(kFaultTabs, WC_TABCONTROLW, L"", WS_TABSTOP, 4, 34, 465, 158);
        const INT_PTR ended =
            ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog.Get(), nullptr,
                                      DialogProc, reinterpret_cast<LPARAM>(this));
        if (ended == -1 || result_ == FaultDialogResult::kNotShown) {
            ::MessageBoxW(nullptr, ToWide(data_.shortMessage).c_str(),
                          ToWide(data_.caption).c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
            return FaultDialogResult::kNotShown;
        }
        return result_;
    }

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        }
        auto* self = reinterpret_cast<FaultDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
        return self ? self->Handle(hwnd, message, wParam, lParam) : FALSE;
    }

    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            return FALSE;
        }
        auto* self = reinterpret_cast<FaultDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
        if (!self) {
            return FALSE;
        }
        if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORDLG) {
            return self->Colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        }
        if (message == WM_NOTIFY) {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == kFaultPageBox && header->code == LVN_ITEMACTIVATE) {
                self->SendToEditor(reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
            }
        }
        return FALSE;
    }

    INT_PTR Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
            case WM_INITDIALOG:
                Init(hwnd);
                return FALSE;  // the focus is set
            case WM_TIMER:
                if (wParam == kGuardTimer) {
                    ::KillTimer(hwnd, kGuardTimer);
                    if (!painted_) {
                        result_ = FaultDialogResult::kNotShown;
                        Close();
                    }
                }
                return TRUE;
            case WM_PAINT: {
                if (!painted_) {
                    NoteFaultDialogShown();
                }
                painted_ = true;
                PAINTSTRUCT paint;
                HDC dc = ::BeginPaint(hwnd, &paint);
                {
                    const UniqueDc memory(::CreateCompatibleDC(dc));
                    const SelectedObject selected(memory.get(), monitor_.get());
                    ::BitBlt(dc, kMargin, kMargin, 32, 32, memory.get(), 0, 0, SRCCOPY);
                }
                ::EndPaint(hwnd, &paint);
                return TRUE;
            }
            case WM_CTLCOLORDLG:
            case WM_CTLCOLORSTATIC:
                return Colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
            case WM_SIZE:
                Layout();
                return TRUE;
            case WM_GETMINMAXINFO:
                if (expanded_) {
                    reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {300, 200};
                }
                return TRUE;
            case WM_NOTIFY:
                if (reinterpret_cast<const NMHDR*>(lParam)->idFrom == kFaultTabs &&
                    reinterpret_cast<const NMHDR*>(lParam)->code == TCN_SELCHANGE) {
                    ShowPage(TabCtrl_GetCurSel(Item(kFaultTabs)));
                }
                return TRUE;
            case WM_COMMAND:
                switch (LOWORD(wParam)) {
                    case kFaultCloseButton:
                        Close();
                        return TRUE;
                    case kFaultTerminateButton:
                        result_ = FaultDialogResult::kTerminate;
                        Close();
                        return TRUE;
                    case kFaultDetailsButton:
                        SetExpanded(!expanded_);
                        return TRUE;
                }
                return FALSE;
            case WM_DESTROY:
                ClosePage();
                return FALSE;
        }
        return FALSE;
    }

    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }

    INT_PTR Colour(HDC dc, HWND control) {
        if (!data_.customColors) {
            return FALSE;
        }
        // The page's text box keeps the colours of a text box.
        if (control && ::GetDlgCtrlID(control) == kFaultPageBox) {
            return FALSE;
        }
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(brush_.get());
    }

    void Init(HWND hwnd) {
        hwnd_ = hwnd;
        brush_.reset(::CreateSolidBrush(kCustomColor));
        monitor_.reset(
            MonitorBitmap(data_.customColors ? kCustomColor : ::GetSysColor(COLOR_BTNFACE)));
        images_.reset(ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 4, 0));
        for (const auto image : {FaultRowImage::kExecutable, FaultRowImage::kPackage,
                                 FaultRowImage::kLibrary, FaultRowImage::kUnit}) {
            UniqueBitmap bitmap(RowBitmap(image));
            ImageList_AddMasked(images_.get(), bitmap.get(), kMaskColor);
        }
        // Bold Verdana for the header, the system's message font for the buttons, 8-point
        // Lucida Console for the report; the system substitutes its closest when one is missing.
        const int logical = -::MulDiv(8, ScreenDpi(), 72);
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        // The system's closest face to a missing Verdana may have no bold; the message font's
        // face has.
        headerFont_.reset(::CreateFontW(
            logical, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS,
            FontInstalled(L"Verdana") ? L"Verdana" : metrics.lfMessageFont.lfFaceName));
        buttonFont_.reset(::CreateFontIndirectW(&metrics.lfMessageFont));
        reportFont_.reset(::CreateFontW(
            logical, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Lucida Console"));
        ::SendMessageW(Item(kFaultHeader), WM_SETFONT, reinterpret_cast<WPARAM>(headerFont_.get()),
                       FALSE);
        for (const int id : {kFaultCloseButton, kFaultTerminateButton, kFaultDetailsButton}) {
            ::SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()),
                           FALSE);
            ::SetWindowPos(Item(id), nullptr, 0, 0, kButtonWidth, kButtonHeight,
                           SWP_NOMOVE | SWP_NOZORDER);
        }
        ::SetWindowTextW(Item(kFaultCloseButton), ToWide(data_.closeText).c_str());
        ::SetWindowTextW(Item(kFaultTerminateButton), ToWide(data_.terminateText).c_str());
        ::ShowWindow(Item(kFaultTerminateButton), data_.terminateVisible ? SW_SHOW : SW_HIDE);
        HWND tabs = Item(kFaultTabs);
        for (const auto* text : {&data_.generalTab, &data_.detailsTab}) {
            std::wstring wide = ToWide(*text);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = wide.data();
            TabCtrl_InsertItem(tabs, TabCtrl_GetItemCount(tabs), &item);
        }
        coordinates_ = LoadCoordinates();
        const int first = data_.startsOnGeneral ? 0 : 1;
        TabCtrl_SetCurSel(tabs, first);
        ShowPage(first);
        ShowCollapsed();
        ::SetFocus(Item(kFaultCloseButton));
        ::SetTimer(hwnd, kGuardTimer, 1, nullptr);
    }

    static DialogRect WorkArea() {
        RECT area{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        return {area.left, area.top, area.right - area.left, area.bottom - area.top};
    }

    void ShowCollapsed() {
        ::SetWindowTextW(Item(kFaultHeader), ToWide(data_.shortMessage).c_str());
        ::SetWindowTextW(Item(kFaultDetailsButton),
                         ToWide(DetailsButtonText(data_.detailsText, false)).c_str());
        ::ShowWindow(Item(kFaultTabs), SW_HIDE);
        if (page_) {
            ::ShowWindow(page_, SW_HIDE);
        }
        SetResizable(false);
        const DialogFrame frame{::GetSystemMetrics(SM_CXDLGFRAME),
                                ::GetSystemMetrics(SM_CYDLGFRAME),
                                ::GetSystemMetrics(SM_CYSMCAPTION)};
        RECT text{0, 0, CollapsedTextLimit(frame), 0};
        {
            const WindowDc dc(hwnd_);
            const SelectedObject selected(dc.get(), headerFont_.get());
            const std::wstring message = ToWide(data_.shortMessage);
            ::DrawTextW(dc.get(), message.c_str(), -1, &text,
                        DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        }
        textSize_ = {text.right, text.bottom};
        const DialogRect r = CollapsedDialogRect(text.right, text.bottom, frame, WorkArea());
        ::SetWindowPos(hwnd_, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER);
        Layout();
    }

    void ShowExpanded() {
        ::SetWindowTextW(Item(kFaultHeader), ToWide(data_.heading).c_str());
        ::SetWindowTextW(Item(kFaultDetailsButton),
                         ToWide(DetailsButtonText(data_.detailsText, true)).c_str());
        SetResizable(true);
        const auto columns = coordinates_.columns;
        coordinates_ = LoadCoordinates();
        coordinates_.columns = columns;
        const DialogRect r = PlaceExpandedDialog(coordinates_, WorkArea());
        ::SetWindowPos(hwnd_, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER);
        ::ShowWindow(Item(kFaultTabs), SW_SHOW);
        if (page_) {
            ::ShowWindow(page_, SW_SHOW);
        }
        if (coordinates_.windowsState != SW_SHOWNORMAL) {
            ::ShowWindow(hwnd_, coordinates_.windowsState);
        }
        Layout();
    }

    void SetResizable(bool resizable) {
        LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
        style = resizable ? (style | WS_THICKFRAME | WS_MAXIMIZEBOX)
                          : (style & ~(WS_THICKFRAME | WS_MAXIMIZEBOX));
        ::SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
        ::SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }

    void SetExpanded(bool expanded) {
        if (expanded == expanded_) {
            return;
        }
        if (expanded_) {
            SavePlace();
        }
        expanded_ = expanded;
        if (!expanded && ::IsZoomed(hwnd_)) {
            ::ShowWindow(hwnd_, SW_RESTORE);
        }
        expanded ? ShowExpanded() : ShowCollapsed();
    }

    void SavePlace() {
        WINDOWPLACEMENT place{};
        place.length = sizeof place;
        ::GetWindowPlacement(hwnd_, &place);
        const RECT& r = place.rcNormalPosition;
        coordinates_.left = r.left;
        coordinates_.top = r.top;
        coordinates_.width = r.right - r.left;
        coordinates_.height = r.bottom - r.top;
        coordinates_.windowsState = static_cast<int>(place.showCmd);
        StoreCoordinates(coordinates_);
    }

    void Layout() {
        if (!hwnd_) {
            return;
        }
        RECT client;
        ::GetClientRect(hwnd_, &client);
        const int width = client.right;
        const int top = client.bottom - 32;
        ::MoveWindow(Item(kFaultCloseButton), (width - kButtonWidth) / 2, top, kButtonWidth,
                     kButtonHeight, TRUE);
        ::MoveWindow(Item(kFaultTerminateButton), 5, top, kButtonWidth, kButtonHeight, TRUE);
        ::MoveWindow(Item(kFaultDetailsButton), width - 80, top, kButtonWidth, kButtonHeight, TRUE);
        if (!expanded_) {
            ::MoveWindow(Item(kFaultHeader), kTextLeft, kMargin, textSize_.cx + 2,
                         std::max<int>(textSize_.cy, 39), TRUE);
            return;
        }
        ::MoveWindow(Item(kFaultHeader), kTextLeft, kMargin, width - kTextLeft - kMargin,
                     kExpandedHeaderHeight - kMargin, TRUE);
        ::MoveWindow(Item(kFaultTabs), kMargin, kExpandedHeaderHeight, width - 2 * kMargin,
                     top - kExpandedHeaderHeight - kMargin, TRUE);
        PlacePage();
    }

    void PlacePage() {
        if (!page_) {
            return;
        }
        RECT area;
        ::GetWindowRect(Item(kFaultTabs), &area);
        ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&area), 2);
        TabCtrl_AdjustRect(Item(kFaultTabs), FALSE, &area);
        ::SetWindowPos(page_, HWND_TOP, area.left, area.top, area.right - area.left,
                       area.bottom - area.top, SWP_NOACTIVATE);
        RECT inside;
        ::GetClientRect(page_, &inside);
        ::MoveWindow(::GetDlgItem(page_, kFaultPageHeader), 4, 4, inside.right - 8, 16, TRUE);
        ::MoveWindow(::GetDlgItem(page_, kFaultPageBox), 4, 24, inside.right - 8,
                     std::max<int>(inside.bottom - 28, 0), TRUE);
    }

    // The page window is made anew on every change of tab.
    void ShowPage(int index) {
        ClosePage();
        const bool list = index == 1;
        DialogTemplate page(DS_CONTROL | WS_CHILD, 100, 100, L"");
        page.Control(kFaultPageHeader, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 4, 2, 90, 8);
        if (list) {
            page.Control(kFaultPageBox, WC_LISTVIEWW, L"",
                         LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP, 4,
                         12, 90, 80);
        } else {
            page.Control(kFaultPageBox, L"EDIT", L"",
                         ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL |
                             ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
                         4, 12, 90, 80);
        }
        page_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), page.Get(), hwnd_,
                                             PageProc, reinterpret_cast<LPARAM>(this));
        if (!page_) {
            return;
        }
        HWND header = ::GetDlgItem(page_, kFaultPageHeader);
        ::SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(headerFont_.get()), FALSE);
        ::SetWindowTextW(header, ToWide(list ? data_.detailsHeader : data_.generalHeader).c_str());
        HWND box = ::GetDlgItem(page_, kFaultPageBox);
        if (list) {
            FillList(box);
        } else {
            ::SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(reportFont_.get()), FALSE);
            ::SetWindowTextW(box, ToWide(data_.reportSections).c_str());
        }
        PlacePage();
        ::ShowWindow(page_, expanded_ ? SW_SHOW : SW_HIDE);
    }

    void FillList(HWND list) {
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
        ListView_SetImageList(list, images_.get(), LVSIL_SMALL);
        for (int c = 0; c < 6; ++c) {
            std::wstring title = ToWide(data_.columnTitles[c]);
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = title.data();
            column.cx = coordinates_.columns[c];
            ListView_InsertColumn(list, c, &column);
        }
        int index = 0;
        for (const auto& row : data_.rows) {
            std::wstring first = ToWide(row.cells[0]);
            LVITEMW item{};
            item.mask = LVIF_TEXT | LVIF_IMAGE;
            item.iItem = index;
            item.pszText = first.data();
            item.iImage = static_cast<int>(row.image);
            ListView_InsertItem(list, &item);
            for (int c = 1; c < 6; ++c) {
                std::wstring text = ToWide(row.cells[c]);
                ListView_SetItemText(list, index, c, text.data());
            }
            ++index;
        }
    }

    // Column widths go back to the file when the list's page closes.
    void ClosePage() {
        if (!page_) {
            return;
        }
        HWND box = ::GetDlgItem(page_, kFaultPageBox);
        wchar_t className[32] = {};
        ::GetClassNameW(box, className, 32);
        if (std::wstring(className) == WC_LISTVIEWW) {
            for (int c = 0; c < 6; ++c) {
                coordinates_.columns[c] = ListView_GetColumnWidth(box, c);
            }
            FaultDialogCoordinates stored = LoadCoordinates();
            stored.columns = coordinates_.columns;
            StoreCoordinates(stored);
        }
        ::DestroyWindow(page_);
        page_ = nullptr;
    }

    // An editor that owns the mail slot can open the source at the row's line.
    void SendToEditor(int row) {
        if (row < 0 || row >= static_cast<int>(data_.rows.size()) ||
            data_.rows[row].cells[5].empty()) {
            return;
        }
        HANDLE slot = ::CreateFileW(L"\\\\.\\mailslot\\FaultLog", GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (slot == INVALID_HANDLE_VALUE) {
            return;
        }
        char message[2052] = {};
        const std::string& unit = data_.rows[row].cells[2];
        unit.copy(message, std::min<std::size_t>(unit.size(), 2047));
        const std::int32_t line = std::stoi(data_.rows[row].cells[5]);
        std::memcpy(message + 2048, &line, 4);
        DWORD written = 0;
        ::WriteFile(slot, message, sizeof message, &written, nullptr);
        ::CloseHandle(slot);
    }

    void Close() {
        ClosePage();
        if (expanded_) {
            SavePlace();
        }
        ::EndDialog(hwnd_, 1);
    }

    const FaultDialogData& data_;
    HWND hwnd_ = nullptr;
    HWND page_ = nullptr;
    bool expanded_ = false;
    bool painted_ = false;
    SIZE textSize_{};
    FaultDialogCoordinates coordinates_;
    FaultDialogResult result_ = FaultDialogResult::kClosed;
    UniqueBrush brush_;
    UniqueBitmap monitor_;
    UniqueImageList images_;
    UniqueFont headerFont_;
    UniqueFont buttonFont_;
    UniqueFont reportFont_;
};

std::wstring FolderFile(std::wstring folder) {
    return folder.empty() ? L"FaultLog.ini" : folder + L"\\FaultLog.ini";
}

}  // namespace

std::wstring FaultDialogCoordinatesFile() {
    wchar_t* folder = nullptr;
    std::wstring path;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder))) {
        path = folder;
    }
    ::CoTaskMemFree(folder);
    return FolderFile(path);
}

std::wstring FaultDialogLegacyCoordinatesFile() {
    std::wstring folder(::GetWindowsDirectoryW(nullptr, 0), L'\0');
    folder.resize(::GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size())));
    return FolderFile(folder);
}

FaultDialogResult ShowFaultDialog(const FaultDialogData& data) {
    HWND foreground = ::GetForegroundWindow();
    ::MessageBeep(MB_ICONHAND);
    FaultDialog dialog(data);
    const FaultDialogResult result = dialog.Run();
    if (foreground && ::IsWindow(foreground)) {
        ::SetForegroundWindow(foreground);
    }
    return result;
}

void InstallFaultDialog() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    // The program's one window side of the logger: the dialog; the system probes the window.
    class Win32FaultWindow final : public FaultWindow {
      public:
        DWORD thread_ = ::GetCurrentThreadId();
        FaultDialogResult ShowDialog(const FaultDialogData& data) override {
            return ShowFaultDialog(data);
        }
        // What the system tells of the window thread's active window and focus, read without
        // a message to that thread (it may be the one that is stuck).
        void ActiveControls(std::string& formClass, std::string& formText,
                            std::string& controlClass, std::string& controlText) override {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            if (!::GetGUIThreadInfo(thread_, &info)) {
                return;
            }
            const auto describe = [](HWND hwnd, std::string& className, std::string& text) {
                wchar_t buffer[256];
                if (hwnd && ::GetClassNameW(hwnd, buffer, 256) > 0) {
                    className = win::ToUtf8(buffer);
                }
                if (hwnd && ::InternalGetWindowText(hwnd, buffer, 256) > 0) {
                    text = win::ToUtf8(buffer);
                }
            };
            describe(info.hwndActive, formClass, formText);
            describe(info.hwndFocus, controlClass, controlText);
        }
        bool Inform(const std::string& caption, const std::string& text) override {
            ::MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(caption).c_str(),
                          MB_OK | MB_ICONINFORMATION | MB_TASKMODAL | MB_TOPMOST);
            return true;
        }
    };
    static Win32FaultWindow window;
    SetFaultWindow(&window);
}

}  // namespace packmeter::win32

#include "gui/win32/app/main_window.hpp"

#include <commctrl.h>

#include <algorithm>

#include "core/app/list_order.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

constexpr int kClientWidth = 410;
constexpr int kClientHeight = 453;
constexpr int kHeaderHeight = 49;
constexpr int kStatusHeight = 19;
constexpr UINT kStatusInterval = 1500;
constexpr auto kApplyInterval = std::chrono::milliseconds(40);
constexpr const wchar_t* kClassName = L"PackmeterMainForm";
constexpr const wchar_t* kFormFontName = L"MS Sans Serif";
constexpr int kAppIcon = 1;

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    const HDC screen = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(screen, &wanted, &FontFound, reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    return found;
}

int ScreenDpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

SIZE TextSize(HWND hwnd, HFONT font) {
    const std::wstring text = win::ToWide(WindowText(hwnd));
    const HDC dc = ::GetDC(hwnd);
    const HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd, dc);
    return size;
}

}  // namespace

TMainForm::TMainForm(MainFormServices services, std::vector<std::string> args)
    : args_(std::move(args)), dpi_(ScreenDpi()) {
    CreateFonts();
    browseForFolderDlg_.SetTitle(kBrowseTitle);
    browseForFolderDlg_.SetOptions({bfNewDialogStyle, bfFileSystemOnly});
    browseForFolderDlg_.SetRootedAt(SF_DESKTOP);
    logic_ =
        std::make_unique<TMainFormLogic>(static_cast<MainFormView&>(*this), std::move(services));

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT outer{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    ::AdjustWindowRectEx(&outer, style, TRUE, 0);
    const auto icon = static_cast<HICON>(::LoadImageW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIcon), IMAGE_ICON, 0, 0, LR_SHARED));
    if (!CreateWindowOf(kClassName, 0, style, CW_USEDEFAULT, CW_USEDEFAULT,
                        outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                        icon)) {
        return;
    }
    SetWindowTextUtf8(Hwnd(), kApplicationTitle);
    ::SendMessageW(Hwnd(), WM_SETFONT, WPARAM(font_.get()), FALSE);
    SetMainWindow(Hwnd());
    CreateMenuBar();
    CreateHeader();
    statusBar_ =
        ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0,
                          0, Hwnd(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(statusBar_, WM_SETFONT, WPARAM(font_.get()), FALSE);
    ::SendMessageW(statusBar_, SB_SETMINHEIGHT, WPARAM(Scaled(kStatusHeight)), 0);
    CreateList();
    LayOut();

    const HWND hwnd = Hwnd();
    logic_->Channel().SetWake([hwnd] { ::PostMessageW(hwnd, kApplyScanOutputMessage, 0, 0); });
    ::SetTimer(hwnd, kStatusTimer, kStatusInterval, nullptr);
    AddKeyPreview(this);
}

TMainForm::~TMainForm() {
    RemoveKeyPreview(this);
    logic_->Shutdown();
    DestroyNow();
    logic_.reset();
}

int TMainForm::Scaled(int pixels) const {
    return ::MulDiv(pixels, dpi_, 96);
}

void TMainForm::CreateFonts() {
    LOGFONTW face{};
    if (FontInstalled(kFormFontName)) {
        wcsncpy(face.lfFaceName, kFormFontName, LF_FACESIZE - 1);
        face.lfHeight = -::MulDiv(8, dpi_, 72);
        face.lfCharSet = DEFAULT_CHARSET;
    } else {
        // The system's dialog font where the classic one is missing.
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        face = metrics.lfMessageFont;
    }
    font_.reset(::CreateFontIndirectW(&face));
    face.lfWeight = FW_BOLD;
    boldFont_.reset(::CreateFontIndirectW(&face));
}

void TMainForm::CreateMenuBar() {
    // Owned by the window once set: destroyed with it.
    const HMENU bar = ::CreateMenu();
    const HMENU file = ::CreatePopupMenu();
    ::AppendMenuW(file, MF_STRING, kScanCommand, L"&Scan...");
    ::AppendMenuW(file, MF_STRING, kRefreshCommand, L"&Refresh");
    ::AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(file, MF_STRING, kExitCommand, L"E&xit");
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    ::SetMenu(Hwnd(), bar);
}

HWND TMainForm::MakeLabel(const char* text, bool bold) {
    const HWND label = ::CreateWindowExW(0, L"STATIC", win::ToWide(text).c_str(),
                                         WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                         Hwnd(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(label, WM_SETFONT, WPARAM(bold ? boldFont_.get() : font_.get()), FALSE);
    return label;
}

void TMainForm::CreateHeader() {
    label1_ = MakeLabel("Path:", true);
    pathLabel_ = MakeLabel("", false);
    label2_ = MakeLabel("Size:", true);
    sizeLabel_ = MakeLabel(kCalculatingText, false);
    label4_ = MakeLabel("Compressed:", true);
    compressedLabel_ = MakeLabel(kCalculatingText, false);
    label5_ = MakeLabel("Ratio:", true);
    ratioLabel_ = MakeLabel("", false);
}

void TMainForm::CreateList() {
    list_.SetApplicationTitle(kApplicationTitle);
    list_.Create(Hwnd(), kListId, "List",
                 {{L"Name", Scaled(170), LVCFMT_LEFT},
                  {L"Size", Scaled(70), LVCFMT_RIGHT},
                  {L"Compresed", Scaled(70), LVCFMT_RIGHT},
                  {L"Ratio", Scaled(40), LVCFMT_RIGHT}});
    list_.SetSmallImages(systemImageList_.Handle());
    list_.SetSortOrder(soNone);
    list_.SetSortColumn(-1);
    list_.SetUseExplorerFontSettings(false);
    list_.SetAutoResort(false);
    list_.SetAutoSaveSettings(false);
    list_.SetOnCompare([this](const ListItem& a, const ListItem& b, int column) {
        return ListCompare(a, b, column, list_.SortOrder());
    });
    list_.onCustomDrawItem = [](const ListItem& item) -> std::optional<COLORREF> {
        switch (RowTextColour(item.stateIndex)) {
            case RowColour::kNavy:
                return RGB(kNavy.red, kNavy.green, kNavy.blue);
            case RowColour::kBlue:
                return RGB(kBlue.red, kBlue.green, kBlue.blue);
            default:
                return ::GetSysColor(COLOR_WINDOWTEXT);
        }
    };
    list_.onDblClick = [this] { logic_->ListDblClick(); };
    list_.Loaded();
}

int TMainForm::HeaderHeight() const {
    return Scaled(kHeaderHeight);
}

void TMainForm::LayOutHeader() {
    struct Place {
        HWND label;
        int x;
        int y;
        HFONT font;
    };
    // Each label at its own position, moved right only where a wider font would make it
    // overlap the label before it on the same line.
    const Place places[] = {
        {label1_, 8, 7, boldFont_.get()},    {pathLabel_, 40, 7, font_.get()},
        {label2_, 8, 27, boldFont_.get()},   {sizeLabel_, 40, 27, font_.get()},
        {label4_, 117, 27, boldFont_.get()}, {compressedLabel_, 193, 27, font_.get()},
        {label5_, 275, 27, boldFont_.get()}, {ratioLabel_, 315, 27, font_.get()}};
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    int lineEnd = 0;
    int lineY = -1;
    for (const Place& place : places) {
        const SIZE size = TextSize(place.label, place.font);
        if (place.y != lineY) {
            lineY = place.y;
            lineEnd = 0;
        }
        const int x = std::max(Scaled(place.x), lineEnd == 0 ? 0 : lineEnd + Scaled(3));
        // The path may be longer than the window: it ends at the window's edge.
        const int width = place.label == pathLabel_ ? std::max(0, int(client.right) - x - Scaled(4))
                                                    : int(size.cx) + 1;
        ::MoveWindow(place.label, x, Scaled(place.y), width, size.cy, TRUE);
        lineEnd = x + size.cx;
    }
}

void TMainForm::LayOut() {
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    ::SendMessageW(statusBar_, WM_SIZE, 0, 0);
    RECT status{};
    ::GetWindowRect(statusBar_, &status);
    const int statusHeight = status.bottom - status.top;
    const int top = HeaderHeight();
    ::MoveWindow(list_.Hwnd(), 0, top, client.right,
                 std::max(0, int(client.bottom) - top - statusHeight), TRUE);
    LayOutHeader();
}

void TMainForm::Show(int showCommand) {
    ::ShowWindow(Hwnd(), showCommand);
    ::UpdateWindow(Hwnd());
    if (!shown_) {
        shown_ = true;
        // Once the window is on screen, so that the picker opens over it.
        ::PostMessageW(Hwnd(), kFormShowMessage, 0, 0);
    }
}

void TMainForm::ScheduleApply() {
    const auto since = std::chrono::steady_clock::now() - lastApply_;
    if (since >= kApplyInterval) {
        ApplyScanOutput();
    } else if (!applyTimerSet_) {
        applyTimerSet_ = true;
        const auto rest =
            std::chrono::duration_cast<std::chrono::milliseconds>(kApplyInterval - since);
        ::SetTimer(Hwnd(), kApplyTimer, UINT(std::max<long long>(1, rest.count())), nullptr);
    }
}

void TMainForm::ApplyScanOutput() {
    lastApply_ = std::chrono::steady_clock::now();
    logic_->ApplyScanOutput();
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kApplyScanOutputMessage:
            ScheduleApply();
            return 0;
        case kFormShowMessage:
            logic_->FormShow(args_);
            return 0;
        case WM_TIMER:
            if (wParam == kStatusTimer) {
                logic_->UpdateStatusTimerTimer();
            } else if (wParam == kApplyTimer) {
                ::KillTimer(Hwnd(), kApplyTimer);
                applyTimerSet_ = false;
                ApplyScanOutput();
            }
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kScanCommand:
                    logic_->ScanActionExecute();
                    return 0;
                case kRefreshCommand:
                    logic_->RefreshActionExecute();
                    return 0;
                case kExitCommand:
                    ::PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (list_.HandleNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) {
                return result;
            }
            break;
        }
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font_.get());
        case WM_SIZE:
            LayOut();
            return 0;
        case WM_SETFOCUS:
            ::SetFocus(list_.Hwnd());
            return 0;
        case WM_SETCURSOR:
            if (busy_ && LOWORD(lParam) == HTCLIENT) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_APPSTARTING));
                return TRUE;
            }
            break;
        case WM_CTLCOLORSTATIC:
            // The header's labels on the window's own face.
            ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(Hwnd(), nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_DESTROY:
            // Nothing of a scan reaches the window any more; a running scan ends on its own.
            logic_->Shutdown();
            ::KillTimer(Hwnd(), kStatusTimer);
            ::KillTimer(Hwnd(), kApplyTimer);
            if (DialogOwnerWindow() == Hwnd()) {
                SetMainWindow(nullptr);
            }
            ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefaultHandling(message, wParam, lParam);
}

void TMainForm::PreviewKeyDown(const MSG& message) {
    if (message.hwnd != Hwnd() && !::IsChild(Hwnd(), message.hwnd)) {
        return;
    }
    const auto key = int(message.wParam);
    const int letter = key >= 'A' && key <= 'Z' ? key : 0;
    logic_->FormKeyDown(letter, ::GetKeyState(VK_CONTROL) < 0);
}

void TMainForm::SetCaption(const std::string& text) {
    SetWindowTextUtf8(Hwnd(), text);
}

void TMainForm::SetPathText(const std::string& text) {
    SetWindowTextUtf8(pathLabel_, text);
    LayOutHeader();
}

void TMainForm::SetStatusText(const std::string& text) {
    SetWindowTextUtf8(statusBar_, text);
}

void TMainForm::SetTotals(const ScanTotals& totals) {
    SetWindowTextUtf8(sizeLabel_, totals.sizeText);
    SetWindowTextUtf8(compressedLabel_, totals.onDiskText);
    SetWindowTextUtf8(ratioLabel_, totals.ratioText);
    LayOutHeader();
    ::InvalidateRect(Hwnd(), nullptr, TRUE);
}

void TMainForm::SetBusyCursor(bool busy) {
    busy_ = busy;
    POINT at{};
    ::GetCursorPos(&at);
    const HWND under = ::WindowFromPoint(at);
    if (under == Hwnd() || ::IsChild(Hwnd(), under)) {
        ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
    }
}

void TMainForm::ClearList() {
    list_.Clear();
}

void TMainForm::AddItems(std::vector<ListItem> items) {
    list_.AddItems(std::move(items));
}

void TMainForm::SelectAllItems() {
    list_.SelectAll();
}

const ListItem* TMainForm::FirstSelectedItem() const {
    return list_.FirstSelectedItem();
}

bool TMainForm::BrowseForFolder(std::string& folder) {
    if (!browseForFolderDlg_.Execute()) {
        return false;
    }
    folder = browseForFolderDlg_.SelectedFolder();
    return true;
}

void TMainForm::SetSortColumn(int column) {
    list_.SetSortColumn(column);
}

}  // namespace packmeter::win32

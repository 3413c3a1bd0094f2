#include "gui/win32/app/main_form.hpp"

#include <commctrl.h>

#include <algorithm>

#include "core/app/list_order.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

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

SIZE TextSize(HWND hwnd, HFONT font, const std::wstring& text) {
    const HDC dc = ::GetDC(hwnd);
    const HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd, dc);
    return size;
}

// Text widths in the font that a window draws with.
class WindowFontMeasure final : public TextMeasure {
  public:
    explicit WindowFontMeasure(HWND hwnd)
        : hwnd_(hwnd), font_(reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0))) {}
    int TextWidth(std::string_view text) const override {
        return int(TextSize(hwnd_, font_, win::ToWide(std::string(text))).cx);
    }

  private:
    HWND hwnd_;
    HFONT font_;
};

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
    listViewCopy1_.SetListView(&list_);
    listViewPrint_.SetListView(&list_);
    LayOut();

    const HWND hwnd = Hwnd();
    logic_->Channel().SetWake([hwnd] { ::PostMessageW(hwnd, kApplyScanOutputMessage, 0, 0); });
    ::SetTimer(hwnd, kStatusTimer, UINT(kStatusInterval.count()), nullptr);
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
        face.lfHeight = -::MulDiv(kFormFontPoints, dpi_, 72);
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

HWND TMainForm::MakeLabel(const char* text, bool bold) {
    const HWND label = ::CreateWindowExW(0, L"STATIC", win::ToWide(text).c_str(),
                                         WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                         Hwnd(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(label, WM_SETFONT, WPARAM(bold ? boldFont_.get() : font_.get()), FALSE);
    return label;
}

void TMainForm::CreateHeader() {
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        labels_[i] = MakeLabel(kHeaderLabels[i].text, kHeaderLabels[i].bold);
    }
}

void TMainForm::CreateList() {
    list_.SetApplicationTitle(kApplicationTitle);
    std::vector<ColumnSetup> columns;
    for (std::size_t i = 0; i < kListColumns.size(); ++i) {
        columns.push_back({win::ToWide(kColumnCaptions[i]), Scaled(kListColumns[i].width),
                           kListColumns[i].alignRight ? LVCFMT_RIGHT : LVCFMT_LEFT});
    }
    list_.Create(Hwnd(), kListId, "List", columns);
    list_.SetSmallImages(systemImageList_.Handle());
    list_.SetSortOrder(soNone);
    list_.SetSortColumn(-1);
    list_.SetUseExplorerFontSettings(false);
    SizeColumns();
    list_.SetAutoResort(false);
    list_.SetAutoSaveSettings(false);
    list_.SetOnCompare([this](const ListItem& a, const ListItem& b, int column) {
        return ListCompare(a, b, column, list_.SortOrder());
    });
    list_.onCustomDrawItem = [](const ListItem& item) -> std::optional<COLORREF> {
        switch (RowTextColour(item.keys)) {
            case RowColour::kNavy:
                return RGB(kNavy.red, kNavy.green, kNavy.blue);
            case RowColour::kBlue:
                return RGB(kBlue.red, kBlue.green, kBlue.blue);
            case RowColour::kGrayText:
                return ::GetSysColor(COLOR_GRAYTEXT);
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

void TMainForm::SizeColumns() {
    // The list view keeps about 6 pixels beside a cell's text on either side.
    const WindowFontMeasure measure(list_.Hwnd());
    for (std::size_t i = 0; i < kListColumns.size(); ++i) {
        ListView_SetColumnWidth(
            list_.Hwnd(), int(i),
            ListColumnWidth(i, measure, Scaled(12), [this](int pixels) { return Scaled(pixels); }));
    }
}

void TMainForm::LayOutHeader() {
    std::array<SIZE, kHeaderLabelCount> sizes{};
    std::array<int, kHeaderLabelCount> widths{};
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        const HFONT font = kHeaderLabels[i].bold ? boldFont_.get() : font_.get();
        sizes[i] = TextSize(labels_[i], font, win::ToWide(WindowText(labels_[i])));
        widths[i] = int(sizes[i].cx);
    }
    const auto lefts = HeaderLabelLefts(widths, [this](int pixels) { return Scaled(pixels); });
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        const int x = lefts[i];
        // The path may be longer than the window: it ends at the window's edge.
        const int width = kHeaderLabels[i].label == HeaderLabel::kPath
                              ? std::max(0, int(client.right) - x - Scaled(4))
                              : widths[i] + 1;
        ::MoveWindow(labels_[i], x, Scaled(kHeaderLabels[i].y), width, sizes[i].cy, TRUE);
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
    if (const auto wait = logic_->ScheduleApply()) {
        ::SetTimer(Hwnd(), kApplyTimer, UINT(wait->count()), nullptr);
    }
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
                logic_->ApplyScanOutput();
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
                    if (ExecuteCommand(LOWORD(wParam))) {
                        return 0;
                    }
                    break;
            }
            break;
        case WM_MENUSELECT:
            MenuSelect(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam));
            return 0;
        case WM_EXITMENULOOP:
            MenuSelect(0, 0xFFFF, nullptr);
            return 0;
        case WM_MEASUREITEM:
            if (MeasureMenuPicture(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam))) {
                return TRUE;
            }
            break;
        case WM_DRAWITEM:
            if (DrawMenuPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) {
                return TRUE;
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
    SetWindowTextUtf8(PathLabel(), text);
    LayOutHeader();
}

void TMainForm::SetStatusText(const std::string& text) {
    // While a menu shows its hints in the status line, the text waits for the menu to close.
    if (menuHint_) {
        statusBeforeMenu_ = win::ToWide(text);
        return;
    }
    SetWindowTextUtf8(statusBar_, text);
}

void TMainForm::SetTotals(const ScanTotals& totals) {
    SetWindowTextUtf8(SizeLabel(), totals.sizeText);
    SetWindowTextUtf8(CompressedLabel(), totals.onDiskText);
    SetWindowTextUtf8(RatioLabel(), totals.ratioText);
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

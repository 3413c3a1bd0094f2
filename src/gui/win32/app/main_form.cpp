#include "gui/win32/app/main_form.hpp"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "core/app/list_order.hpp"
#include "core/app/main_menu.hpp"
#include "gui/win32/app/estimate_dialog.hpp"
#include "gui/win32/app/status_bar.hpp"
#include "gui/win32/framework/clipboard.hpp"
#include "gui/win32/framework/screen_fonts.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "gui/win32/shell/win_shell_space.hpp"
#include "platform/chunk_codecs.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

constexpr const wchar_t* kClassName = L"PackmeterMainForm";
constexpr const wchar_t* kFormFontName = L"MS Sans Serif";
constexpr int kAppIcon = 1;

// Text widths in the font that a window draws with.
class WindowFontMeasure final : public TextMeasure {
  public:
    explicit WindowFontMeasure(HWND hwnd)
        : hwnd_(hwnd), font_(reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0))) {}
    int TextWidth(std::string_view text) const override {
        return int(TextExtent(hwnd_, font_, win::ToWide(std::string(text))).cx);
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
    if (!services.makeCompressor) {
        services.makeCompressor = MakeChunkCompressor;
    }
    logic_ =
        std::make_unique<MainFormLogic>(static_cast<MainFormView&>(*this), std::move(services));
    // The dialogs open from their own messages, after the menu or the batch has returned.
    logic_->Commands().SetChoice(LoadCompressionChoice());
    logic_->Commands().onCompressWith = [this](const std::string& folder,
                                               std::vector<std::string> names) {
        compressWithFolder_ = folder;
        compressWithNames_ = std::move(names);
        ::PostMessageW(Hwnd(), kShowCompressWithMessage, 0, 0);
    };
    logic_->Commands().onEstimateDone = [this](EstimateResult result) {
        pendingEstimates_.push_back(std::move(result));
        ::PostMessageW(Hwnd(), kShowEstimateMessage, 0, 0);
    };

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT outer{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    ::AdjustWindowRectEx(&outer, style, TRUE, 0);
    // The first size fits the screen's free area.
    RECT work{};
    if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        outer.right = outer.left + std::min(outer.right - outer.left, work.right - work.left);
        outer.bottom = outer.top + std::min(outer.bottom - outer.top, work.bottom - work.top);
    }
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
    statusBar_.Create(Hwnd(), toolTip_, font_.get(), dpi_, kCancelCommand);
    CreateList();
    listViewCopy1_.SetListView(&list_);
    listViewPrint_.SetListView(&list_);
    CreateCommandControls();
    LayOut();
    // Last: the shell may still be filling its icon cache on another thread (see main), and the
    // list has no rows to draw yet.
    systemImageList_.emplace();
    list_.SetSmallImages(systemImageList_->Handle());

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
    commandSink_.reset();
    shellBrowser_.reset();
}

void TMainForm::CreateCommandControls() {
    // The shell's context menu of the rows and of the shown folder (through the path label).
    shellBrowser_ = std::make_unique<TShellBrowser>(std::make_shared<WinShellSpace>(Hwnd()));
    shellBrowser_->SetFilter("*");
    shellBrowser_->SetShowErrorMessages(true);
    // Opening many rows starts as many programs: asked first.
    shellBrowser_->OnContextMenuSelect = [this](const std::string& verb, bool& execute) {
        const std::size_t count = ItemsInOrder(true).size();
        if (verb == "open" && count > kOpenWithoutAsking) {
            execute = ::MessageBoxW(Hwnd(), win::ToWide(OpenManyQuestion(count)).c_str(),
                                    win::ToWide(kApplicationTitle).c_str(),
                                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        }
    };
    commandSink_ = std::make_unique<CommandSink<TMainForm>>(*this);
    logic_->SetCommandView(commandSink_.get());
    ::SetWindowSubclass(PathLabel(), &PathLabelProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK TMainForm::PathLabelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR self) {
    switch (message) {
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP: {
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ::ClientToScreen(hwnd, &at);
            // After the label has finished with the click.
            ::PostMessageW(reinterpret_cast<TMainForm*>(self)->Hwnd(), kPathLabelMouseUpMessage, 0,
                           MAKELPARAM(at.x, at.y));
            break;
        }
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hwnd, &PathLabelProc, id);
            break;
        default:
            break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void TMainForm::ListContextPopup(POINT screen) {
    try {
        logic_->ListContextPopup(*shellBrowser_, screen.x, screen.y);
    } catch (const EShellBrowserError& error) {
        ShowMessage(error.what());
    }
}

void TMainForm::PathLabelMouseUp(POINT screen) {
    try {
        logic_->PathLabelMouseUp(*shellBrowser_, screen.x, screen.y);
    } catch (const EShellBrowserError& error) {
        ShowMessage(error.what());
    }
}

void TMainForm::UpdateItem(const std::string& name, const ListItem& item) {
    for (int row = 0; row < list_.ItemCount(); ++row) {
        if (list_.Item(row).RawName() == name) {
            list_.UpdateItem(row, item);
            return;
        }
    }
}

void TMainForm::SetCommandProgress(const CommandProgress& progress) {
    statusBar_.SetProgress(!progress.running   ? std::string()
                           : progress.counting ? std::string("Counting entries...")
                                               : progress.Text(),
                           progress.counting ? -1 : progress.Percent());
    ShowStatus();
}

void TMainForm::SetCommandFailures(const std::vector<CompressionFailure>& failures) {
    // A tool tip shows about a thousand characters: fewer lines of long paths, so that the
    // list ends with its "... and N more" line instead of being cut mid-path.
    std::string text;
    for (std::size_t lines = 20; !failures.empty() && lines > 0; --lines) {
        text = logic_->Commands().FailuresText(lines);
        if (win::ToWide(text).size() + MainStatusBar::kTipStatusRoom + 8 < 1000) {
            break;
        }
    }
    statusBar_.SetFailuresText(std::move(text));
    ShowStatus();
}

bool TMainForm::AskStopCommand(const std::string& question) {
    return ::MessageBoxW(Hwnd(), win::ToWide(question).c_str(),
                         win::ToWide(kApplicationTitle).c_str(),
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

int TMainForm::Scaled(int pixels) const {
    return ::MulDiv(pixels, dpi_, 96);
}

void TMainForm::CreateFonts() {
    // The system's message font is a TrueType face that the system links other faces into, so
    // it draws every script; the classic raster face draws Western European text only.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    LOGFONTW message = metrics.lfMessageFont;
    messageFont_.reset(::CreateFontIndirectW(&message));
    message.lfWeight = FW_BOLD;
    boldMessageFont_.reset(::CreateFontIndirectW(&message));
    LOGFONTW face = metrics.lfMessageFont;
    classicFace_ = FontInstalled(kFormFontName);
    if (classicFace_) {
        face = LOGFONTW{};
        wcsncpy(face.lfFaceName, kFormFontName, LF_FACESIZE - 1);
        face.lfHeight = -::MulDiv(kFormFontPoints, dpi_, 72);
        face.lfCharSet = DEFAULT_CHARSET;
    }
    font_.reset(::CreateFontIndirectW(&face));
    face.lfWeight = FW_BOLD;
    boldFont_.reset(::CreateFontIndirectW(&face));
}

HFONT TMainForm::FontFor(const std::string& text, bool bold) const {
    if (!classicFace_ || ClassicFaceDraws(text)) {
        return bold ? boldFont_.get() : font_.get();
    }
    return bold ? boldMessageFont_.get() : messageFont_.get();
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
    noticeLabel_ = MakeLabel("", false);
    ::ShowWindow(noticeLabel_, SW_HIDE);
    // The whole path, while the label shows it shortened.
    toolTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Hwnd(),
                                 nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(PathLabel(), GWL_STYLE,
                        ::GetWindowLongPtrW(PathLabel(), GWL_STYLE) | SS_NOTIFY);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(PathLabel());
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // Tips of several lines (the failures list) break at their line feeds.
    ::SendMessageW(toolTip_, TTM_SETMAXTIPWIDTH, 0, Scaled(640));
}

void TMainForm::CreateList() {
    list_.SetApplicationTitle(kApplicationTitle);
    std::vector<ColumnSetup> columns;
    for (std::size_t i = 0; i < kListColumns.size(); ++i) {
        columns.push_back({win::ToWide(kColumnCaptions[i]), Scaled(kListColumns[i].width),
                           kListColumns[i].alignRight ? LVCFMT_RIGHT : LVCFMT_LEFT});
    }
    list_.Create(Hwnd(), kListId, "List", columns);
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
        const RowColour colour = RowTextColour(item.keys);
        const COLORREF base = ::GetSysColor(COLOR_WINDOW);
        if (const auto rgb = RowRgb(colour, {GetRValue(base), GetGValue(base), GetBValue(base)})) {
            return RGB(rgb->red, rgb->green, rgb->blue);
        }
        return ::GetSysColor(colour == RowColour::kGrayText ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
    };
    // Programs, icon files and shortcuts show their own icons, read only for rows drawn.
    list_.onOwnIcon = [this](const ListItem& item) {
        IconSource* icons = logic_->Icons();
        return icons ? icons->OwnIconIndex(logic_->CurrentFolder(), item.RawName()) : -1;
    };
    list_.onDblClick = [this] { logic_->ListDblClick(); };
    list_.onResize = [this] { FitNameColumn(); };
    list_.Loaded();
}

int TMainForm::HeaderHeight() const {
    return Scaled(kHeaderHeight);
}

void TMainForm::SizeColumns() {
    // The list view keeps about 6 pixels beside a cell's text on either side; a sorted header
    // needs what the header control measures for its caption's margins and the arrow.
    const WindowFontMeasure measure(list_.Hwnd());
    const WindowFontMeasure header(list_.Header() ? list_.Header() : list_.Hwnd());
    const int arrowSpace = list_.ArrowSpace();
    for (std::size_t i = 0; i < kListColumns.size(); ++i) {
        ListView_SetColumnWidth(list_.Hwnd(), int(i),
                                ListColumnWidth(i, measure, Scaled(12), header, arrowSpace,
                                                [this](int pixels) { return Scaled(pixels); }));
    }
    nameLeast_ = ListView_GetColumnWidth(list_.Hwnd(), kNameColumn);
}

void TMainForm::FitNameColumn() {
    RECT client{};
    ::GetClientRect(list_.Hwnd(), &client);
    int others = 0;
    for (int i = 1; i < int(kListColumns.size()); ++i) {
        others += ListView_GetColumnWidth(list_.Hwnd(), i);
    }
    const int width = NameColumnWidth(int(client.right), others, nameLeast_);
    if (width != ListView_GetColumnWidth(list_.Hwnd(), kNameColumn)) {
        ListView_SetColumnWidth(list_.Hwnd(), kNameColumn, width);
    }
}

void TMainForm::ShowStatus() {
    statusBar_.ShowStatus(statusText_, FontFor(statusText_, false));
}

void TMainForm::LayOutHeader() {
    const auto scale = [this](int pixels) { return Scaled(pixels); };
    const auto path = std::size_t(HeaderLabel::kPath);
    std::array<SIZE, kHeaderLabelCount> sizes{};
    std::array<int, kHeaderLabelCount> widths{};
    const auto measure = [&](std::size_t i, const std::string& text) {
        const HFONT font = FontFor(text, kHeaderLabels[i].bold);
        ::SendMessageW(labels_[i], WM_SETFONT, WPARAM(font), FALSE);
        sizes[i] = TextExtent(labels_[i], font, win::ToWide(text));
        widths[i] = int(sizes[i].cx);
    };
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        measure(i, i == path ? std::string() : WindowText(labels_[i]));
    }
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    // The path ends at the window's edge: longer, it is shortened in the middle.
    const int room =
        std::max(0, int(client.right) - HeaderLabelLefts(widths, scale)[path] - Scaled(8));
    const HFONT pathFont = FontFor(pathText_, false);
    struct LabelMeasure final : TextMeasure {
        LabelMeasure(HWND label, HFONT font) : label_(label), font_(font) {}
        int TextWidth(std::string_view text) const override {
            return int(TextExtent(label_, font_, win::ToWide(std::string(text))).cx);
        }
        HWND label_;
        HFONT font_;
    };
    const std::string shown = ElideMiddle(pathText_, LabelMeasure(PathLabel(), pathFont), room);
    // The font before the text: a label painted with the classic face draws other scripts as
    // bars.
    measure(path, shown);
    SetWindowTextUtf8(PathLabel(), shown);
    const std::wstring tip = win::ToWide(shown == pathText_ ? std::string() : pathText_);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = Hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(PathLabel());
    tool.lpszText = const_cast<wchar_t*>(tip.c_str());
    ::SendMessageW(toolTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    const auto lefts = HeaderLabelLefts(widths, scale);
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        ::MoveWindow(labels_[i], lefts[i], Scaled(kHeaderLabels[i].y), widths[i] + 1, sizes[i].cy,
                     TRUE);
    }
    const HeaderLabelSetup& size = kHeaderLabels[std::size_t(HeaderLabel::kSizeTitle)];
    const std::string notice = WindowText(noticeLabel_);
    const HFONT noticeFont = FontFor(notice, false);
    ::SendMessageW(noticeLabel_, WM_SETFONT, WPARAM(noticeFont), FALSE);
    ::MoveWindow(noticeLabel_, Scaled(size.x), Scaled(size.y),
                 std::max(0, int(client.right) - Scaled(size.x) - Scaled(8)),
                 int(TextExtent(noticeLabel_, noticeFont, L"Ag").cy), TRUE);
    // The window clips its children, so its own invalidation does not repaint the labels in the
    // fonts just set: each label repaints itself.
    for (const HWND label : labels_) {
        ::InvalidateRect(label, nullptr, TRUE);
    }
    ::InvalidateRect(noticeLabel_, nullptr, TRUE);
}

void TMainForm::LayOut() {
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    statusBar_.LayOut();
    RECT status{};
    ::GetWindowRect(statusBar_.Hwnd(), &status);
    const int statusHeight = status.bottom - status.top;
    const int top = HeaderHeight();
    ::MoveWindow(list_.Hwnd(), 0, top, client.right,
                 std::max(0, int(client.bottom) - top - statusHeight), TRUE);
    FitNameColumn();
    LayOutHeader();
    ShowStatus();
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
        case kPathLabelMouseUpMessage:
            PathLabelMouseUp({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        case kShowCompressWithMessage: {
            CompressionCommands& commands = logic_->Commands();
            CompressWithBox box(Hwnd(), commands.Choice());
            if (box.ShowModal() == IDOK) {
                const CompressionChoice choice = box.Choice();
                SaveCompressionChoice(choice);
                commands.SetChoice(choice);
                commands.CompressWith(compressWithFolder_, compressWithNames_, choice);
            }
            return 0;
        }
        case kShowEstimateMessage:
            while (!pendingEstimates_.empty()) {
                const EstimateResult result = std::move(pendingEstimates_.front());
                pendingEstimates_.erase(pendingEstimates_.begin());
                const int chosen =
                    EstimateBox(Hwnd(), result, logic_->NumberFormatting()).ShowModal();
                if (chosen == IDYES) {
                    logic_->Commands().CompressWith(result.folder, result.names,
                                                    result.request.method);
                } else if (chosen == IDRETRY) {
                    logic_->Commands().Estimate(result.folder, result.names, false);
                }
            }
            return 0;
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == list_.Hwnd()) {
                POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                if (at.x == -1 && at.y == -1) {
                    // From the keyboard: at the focused row, else at the list's corner.
                    RECT row{};
                    const int focused = ListView_GetNextItem(list_.Hwnd(), -1, LVNI_FOCUSED);
                    if (focused < 0 ||
                        !ListView_GetItemRect(list_.Hwnd(), focused, &row, LVIR_LABEL)) {
                        row = RECT{};
                    }
                    at = {row.left, row.bottom};
                    ::ClientToScreen(list_.Hwnd(), &at);
                }
                ListContextPopup(at);
                return 0;
            }
            break;
        case WM_CLOSE:
            // A running command is asked about, then stopped after its current file.
            if (!logic_->FormCloseQuery()) {
                return 0;
            }
            break;
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
                case kCancelCommand:
                    logic_->CancelCommand();
                    return 0;
                default:
                    if (ExecuteCommand(LOWORD(wParam))) {
                        return 0;
                    }
                    break;
            }
            break;
        case WM_ENTERMENULOOP:
            // A popup menu (the shell's context menu) has no hints: the status line stays.
            contextMenuLoop_ = wParam != FALSE;
            break;
        case WM_INITMENUPOPUP:
            // The menu bar's own menus; the shell's context menu has its own handler.
            if (HIWORD(lParam) == 0 && !contextMenuLoop_) {
                UpdateListActions(reinterpret_cast<HMENU>(wParam));
            }
            return 0;
        case WM_MENUSELECT:
            if (!contextMenuLoop_) {
                MenuSelect(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam));
            }
            return 0;
        case WM_EXITMENULOOP:
            if (contextMenuLoop_) {
                contextMenuLoop_ = false;
            } else {
                MenuSelect(0, 0xFFFF, nullptr);
            }
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
        case WM_GETMINMAXINFO: {
            // The least size keeps the header and the four columns readable.
            int columns = nameLeast_;
            for (int i = 1; list_.Hwnd() && i < int(kListColumns.size()); ++i) {
                columns += ListView_GetColumnWidth(list_.Hwnd(), i);
            }
            RECT least{0, 0, std::max(columns, Scaled(200)) + ::GetSystemMetrics(SM_CXVSCROLL) + 4,
                       Scaled(kLeastClientHeight)};
            ::AdjustWindowRectEx(&least, DWORD(::GetWindowLongPtrW(Hwnd(), GWL_STYLE)), TRUE, 0);
            auto& info = *reinterpret_cast<MINMAXINFO*>(lParam);
            info.ptMinTrackSize = {least.right - least.left, least.bottom - least.top};
            return 0;
        }
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
    const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    if (message.message == WM_SYSKEYDOWN) {
        if (key == VK_UP) {
            logic_->KeyCommand(DesktopKey::kParent);
        }
        return;
    }
    const int letter = key >= 'A' && key <= 'Z' ? key : 0;
    logic_->FormKeyDown(letter, ctrl);
    switch (key) {
        case VK_RETURN:
            logic_->KeyCommand(DesktopKey::kOpen);
            break;
        case VK_F5:
            logic_->KeyCommand(DesktopKey::kRefresh);
            break;
        case VK_BACK:
            logic_->KeyCommand(DesktopKey::kParent);
            break;
        case VK_ESCAPE:
            logic_->KeyCommand(DesktopKey::kStop);
            break;
        case 'C':
            if (ctrl) {
                logic_->KeyCommand(DesktopKey::kCopy);
            }
            break;
        default:
            break;
    }
}

void TMainForm::SetCaption(const std::string& text) {
    SetWindowTextUtf8(Hwnd(), text);
}

void TMainForm::SetPathText(const std::string& text) {
    pathText_ = text;
    LayOutHeader();
}

void TMainForm::SetStatusText(const std::string& text) {
    statusText_ = text;
    // While a menu shows its hints in the status line, the text waits for the menu to close.
    if (!menuHint_) {
        ShowStatus();
    }
}

void TMainForm::SetHeaderNotice(const std::string& text) {
    const bool notice = !text.empty();
    SetWindowTextUtf8(noticeLabel_, text);
    ::ShowWindow(noticeLabel_, notice ? SW_SHOW : SW_HIDE);
    for (std::size_t i = std::size_t(HeaderLabel::kSizeTitle); i < kHeaderLabelCount; ++i) {
        ::ShowWindow(labels_[i], notice ? SW_HIDE : SW_SHOW);
    }
    LayOutHeader();
    ::InvalidateRect(Hwnd(), nullptr, TRUE);
}

void TMainForm::ShowMessage(const std::string& text) {
    ::MessageBoxW(Hwnd(), win::ToWide(text).c_str(), win::ToWide(kApplicationTitle).c_str(),
                  MB_OK | MB_ICONWARNING);
}

std::vector<const ListItem*> TMainForm::ItemsInOrder(bool selectedOnly) const {
    std::vector<const ListItem*> items;
    if (selectedOnly) {
        for (const int row : list_.SelectedRows()) {
            items.push_back(&list_.Item(row));
        }
    } else {
        for (int row = 0; row < list_.ItemCount(); ++row) {
            items.push_back(&list_.Item(row));
        }
    }
    return items;
}

void TMainForm::CopyToClipboard(const std::string& text) {
    if (!SetClipboardText(Hwnd(), text)) {
        ShowMessage("Cannot put the rows on the clipboard: another program holds it.");
    }
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
    if (classicFace_ && !listInMessageFont_) {
        const bool other = std::any_of(items.begin(), items.end(), [](const ListItem& item) {
            return !ClassicFaceDraws(item.caption);
        });
        if (other) {
            // A name the classic face would draw as boxes: the whole list in the message font.
            listInMessageFont_ = true;
            list_.UseFont(messageFont_.get());
        }
    }
    list_.AddItems(std::move(items));
    // The rows may have brought a vertical scroll bar: the Name column gives way to it, so that
    // Ratio stays in view.
    FitNameColumn();
}

void TMainForm::SelectAllItems() {
    list_.SelectAll();
}

const ListItem* TMainForm::FirstSelectedItem() const {
    return list_.FirstSelectedItem();
}

bool TMainForm::BrowseForFolder(std::string& folder) {
    browseForFolderDlg_.SetStartFolder(folder);
    if (!browseForFolderDlg_.Execute()) {
        return false;
    }
    folder = browseForFolderDlg_.SelectedFolder();
    return true;
}

void TMainForm::SetSortColumn(int column) {
    list_.SetSortColumn(column);
}

void TMainForm::CommandBeep() {
    ++beeps_;
    ::MessageBeep(0);
}

std::string TMainForm::CommandStatusText() const {
    return statusText_;
}

void TMainForm::ClearCommandSelection() {
    list_.ClearSelection();
}

}  // namespace packmeter::win32

#include "gui/win32/app/estimate_dialog.hpp"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "core/utils/version.hpp"
#include "gui/win32/framework/screen_fonts.hpp"
#include "platform/system.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

constexpr int kListId = 100;
constexpr int kMinSavingId = 101;
constexpr int kMinSavingSpinId = 102;

}  // namespace

ModalBox::ModalBox(HWND owner, const char* title, int width, int height) : owner_(owner) {
    dpi_ = ScreenDpi();
    font_.reset(CreateOwnerFont(owner));
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    RECT outer{0, 0, Scaled(width), Scaled(height)};
    ::AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT);
    const int w = outer.right - outer.left;
    const int h = outer.bottom - outer.top;
    // Centred over the owner.
    RECT over{};
    ::GetWindowRect(owner, &over);
    const int x = std::max(0, int(over.left + over.right - w) / 2);
    const int y = std::max(0, int(over.top + over.bottom - h) / 2);
    if (CreateWindowOf(L"PackmeterModalBox", WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, style, x, y,
                       w, h, owner, nullptr)) {
        SetWindowTextUtf8(Hwnd(), title);
    }
}

ModalBox::~ModalBox() {
    DestroyNow();
}

HWND ModalBox::Control(const wchar_t* className, const std::string& text, DWORD style, int x, int y,
                       int width, int height, int id) {
    const HWND control = ::CreateWindowExW(
        0, className, win::ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scaled(x),
        Scaled(y), Scaled(width), Scaled(height), Hwnd(), reinterpret_cast<HMENU>(INT_PTR(id)),
        ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(control, WM_SETFONT, WPARAM(font_.get()), FALSE);
    return control;
}

int ModalBox::ShowModal() {
    result_ = RunModalBox(Hwnd(), owner_, result_, [this] { Shown(); });
    return result_;
}

LRESULT ModalBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED &&
                (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDYES ||
                 LOWORD(wParam) == IDRETRY)) {
                result_ = LOWORD(wParam);
                return 0;
            }
            break;
        case WM_CLOSE:
            result_ = IDCANCEL;
            return 0;
        default:
            break;
    }
    return DefaultHandling(message, wParam, lParam);
}

EstimateBox::EstimateBox(HWND owner, const EstimateResult& result, const NumberFormat& format)
    : ModalBox(owner, kEstimateTitle, 560, 300) {
    if (!Hwnd()) {
        return;
    }
    Control(L"STATIC", EstimateHeading(result), SS_LEFT | SS_NOPREFIX, 10, 8, 540, 30);
    list_ = Control(WC_LISTVIEWW, "",
                    WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER, 10, 40,
                    540, 170, kListId);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
    const int widths[kEstimateColumnCount] = {196, 82, 88, 88, 62};
    for (int column = 0; column < int(kEstimateColumnCount); ++column) {
        std::wstring caption = win::ToWide(kEstimateColumnCaptions[std::size_t(column)]);
        LVCOLUMNW setup{};
        setup.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        setup.fmt = column == 0 ? LVCFMT_LEFT : LVCFMT_RIGHT;
        setup.cx = Scaled(widths[column]);
        setup.pszText = caption.data();
        ListView_InsertColumn(list_, column, &setup);
    }
    std::vector<EstimateLine> lines = EstimateLines(result, format);
    lines.push_back(EstimateTotalLine(result, format));
    for (int row = 0; row < int(lines.size()); ++row) {
        for (int column = 0; column < int(kEstimateColumnCount); ++column) {
            std::wstring text = win::ToWide(lines[std::size_t(row)].cells[std::size_t(column)]);
            if (column == 0) {
                LVITEMW item{};
                item.mask = LVIF_TEXT;
                item.iItem = row;
                item.pszText = text.data();
                ListView_InsertItem(list_, &item);
            } else {
                ListView_SetItemText(list_, row, column, text.data());
            }
        }
    }
    summary_ = Control(L"STATIC", EstimateSummary(result, format), SS_LEFT | SS_NOPREFIX, 10, 216,
                       540, 36);
    // The buttons from the right edge: Close, then Exact estimate (after a quick one), then
    // Compress.
    int x = 560 - 10 - 100;
    Control(L"BUTTON", kEstimateCloseButton, WS_TABSTOP | BS_DEFPUSHBUTTON, x, 262, 100, 26,
            IDCANCEL);
    if (result.request.quick) {
        x -= 110;
        Control(L"BUTTON", kEstimateExactButton, WS_TABSTOP | BS_PUSHBUTTON, x, 262, 100, 26,
                IDRETRY);
    }
    x -= 110;
    Control(L"BUTTON", kEstimateCompressButton, WS_TABSTOP | BS_PUSHBUTTON, x, 262, 100, 26, IDYES);
}

EstimateBox::~EstimateBox() = default;

std::function<void(EstimateBox&)>& EstimateBox::OnShown() {
    static std::function<void(EstimateBox&)> handler;
    return handler;
}

void EstimateBox::Shown() {
    if (OnShown()) {
        OnShown()(*this);
    }
}

CompressWithBox::CompressWithBox(HWND owner, const CompressionChoice& choice)
    : ModalBox(owner, kCompressWithTitle, 380, 150) {
    if (!Hwnd()) {
        return;
    }
    Control(L"STATIC", kMinSavingLabel, SS_LEFT | SS_NOPREFIX, 10, 14, 250, 18);
    minSaving_ =
        Control(L"EDIT", std::to_string(int(choice.minSavingPercent)),
                WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_RIGHT, 266, 11, 56, 22, kMinSavingId);
    const HWND spin = Control(UPDOWN_CLASSW, "",
                              UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0,
                              0, 0, 0, kMinSavingSpinId);
    ::SendMessageW(spin, UDM_SETBUDDY, WPARAM(minSaving_), 0);
    ::SendMessageW(spin, UDM_SETRANGE32, 0, 100);
    ::SendMessageW(spin, UDM_SETPOS32, 0, LPARAM(int(choice.minSavingPercent)));
    Control(L"STATIC", "%", SS_LEFT, 328, 14, 20, 18);
    Control(L"STATIC", kOnlyLznt1Text, SS_LEFT | SS_NOPREFIX, 10, 44, 360, 54);
    Control(L"BUTTON", "&Compress", WS_TABSTOP | BS_DEFPUSHBUTTON, 160, 112, 100, 26, IDOK);
    Control(L"BUTTON", "Cancel", WS_TABSTOP | BS_PUSHBUTTON, 270, 112, 100, 26, IDCANCEL);
}

CompressWithBox::~CompressWithBox() = default;

std::function<void(CompressWithBox&)>& CompressWithBox::OnShown() {
    static std::function<void(CompressWithBox&)> handler;
    return handler;
}

void CompressWithBox::Shown() {
    ::SetFocus(minSaving_);
    if (OnShown()) {
        OnShown()(*this);
    }
}

CompressionChoice CompressWithBox::Choice() const {
    CompressionChoice choice;
    const int percent = std::atoi(WindowText(minSaving_).c_str());
    choice.minSavingPercent = std::clamp(percent, 0, 100);
    return choice;
}

namespace {

// HKCU\Software\QEL Software\<title>\CompressWith, beside the list's settings.
std::wstring ChoiceKey() {
    return L"Software\\QEL Software\\" + win::ToWide(kApplicationTitle) + L"\\" +
           win::ToWide(kChoiceSettingsGroup);
}

std::string ReadValue(HKEY key, const char* name) {
    wchar_t text[64] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, win::ToWide(name).c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return win::ToUtf8(text);
}

void WriteValue(HKEY key, const char* name, const std::string& value) {
    const std::wstring text = win::ToWide(value);
    ::RegSetValueExW(key, win::ToWide(name).c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(text.c_str()),
                     DWORD((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

CompressionChoice LoadCompressionChoice() {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, ChoiceKey().c_str(), 0, KEY_READ, &opened) !=
        ERROR_SUCCESS) {
        return {};
    }
    const UniqueKey key(opened);
    return LoadChoice(
        {ReadValue(key.get(), kChoiceMethodName), ReadValue(key.get(), kChoiceMinSavingName)});
}

void SaveCompressionChoice(const CompressionChoice& choice) {
    HKEY created = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, ChoiceKey().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                          &created, nullptr) != ERROR_SUCCESS) {
        return;
    }
    const UniqueKey key(created);
    const ChoiceSettings stored = StoreChoice(choice);
    WriteValue(key.get(), kChoiceMethodName, stored.method);
    WriteValue(key.get(), kChoiceMinSavingName, stored.minSaving);
}

}  // namespace packmeter::win32

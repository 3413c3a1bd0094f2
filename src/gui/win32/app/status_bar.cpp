#include "gui/win32/app/status_bar.hpp"

#include <commctrl.h>

#include <algorithm>
#include <string_view>

#include "core/app/main_form_layout.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/framework/window.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

// Text widths in the font selected into a device context.
class DcMeasure final : public TextMeasure {
  public:
    explicit DcMeasure(HDC dc) : dc_(dc) {}
    int TextWidth(std::string_view text) const override {
        const std::wstring wide = win::ToWide(std::string(text));
        SIZE size{};
        ::GetTextExtentPoint32W(dc_, wide.c_str(), int(wide.size()), &size);
        return int(size.cx);
    }

  private:
    HDC dc_;
};

}  // namespace

void MainStatusBar::Create(HWND owner, HWND toolTip, HFONT font, int dpi, int cancelCommand) {
    owner_ = owner;
    toolTip_ = toolTip;
    font_ = font;
    dpi_ = dpi;
    bar_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"",
                             WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | SBARS_TOOLTIPS, 0, 0, 0, 0,
                             owner, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(bar_, WM_SETFONT, WPARAM(font), FALSE);
    ::SendMessageW(bar_, SB_SETMINHEIGHT, WPARAM(Scaled(kStatusHeight)), 0);

    cancelButton_ = ::CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | BS_PUSHBUTTON, 0, 0, 0, 0,
                                      bar_, reinterpret_cast<HMENU>(INT_PTR(cancelCommand)),
                                      ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(cancelButton_, WM_SETFONT, WPARAM(font), FALSE);
    progressBar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | PBS_SMOOTH, 0, 0, 0, 0,
                                     bar_, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(progressBar_, PBM_SETRANGE32, 0, 100);
    // The button tells its parent, the bar, which passes the click on to the owner.
    ::SetWindowSubclass(bar_, &BarProc, 0, reinterpret_cast<DWORD_PTR>(owner));
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(cancelButton_);
    tool.lpszText = const_cast<wchar_t*>(L"Stop after the current file (Esc)");
    ::SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.uId = reinterpret_cast<UINT_PTR>(bar_);
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK MainStatusBar::BarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR owner) {
    if (message == WM_COMMAND) {
        return ::SendMessageW(reinterpret_cast<HWND>(owner), message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &BarProc, id);
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void MainStatusBar::LayOut() {
    ::SendMessageW(bar_, WM_SIZE, 0, 0);
    LayOutParts();
}

void MainStatusBar::SetProgress(std::string text, int percent) {
    progressText_ = std::move(text);
    ::ShowWindow(cancelButton_, progressText_.empty() ? SW_HIDE : SW_SHOW);
    // Until the count is known the bar moves to and fro; a marquee bar ignores its position.
    const LONG_PTR style = ::GetWindowLongPtrW(progressBar_, GWL_STYLE);
    const bool moving = !progressText_.empty() && percent < 0;
    if (bool(style & PBS_MARQUEE) != moving) {
        ::SetWindowLongPtrW(progressBar_, GWL_STYLE,
                            moving ? style | PBS_MARQUEE : style & ~LONG_PTR(PBS_MARQUEE));
        ::SendMessageW(progressBar_, PBM_SETMARQUEE, WPARAM(moving), 0);
    }
    if (!moving) {
        ::SendMessageW(progressBar_, PBM_SETPOS, WPARAM(std::clamp(percent, 0, 100)), 0);
    }
    LayOutParts();
}

void MainStatusBar::LayOutParts() {
    RECT client{};
    ::GetClientRect(bar_, &client);
    if (progressText_.empty()) {
        ::ShowWindow(progressBar_, SW_HIDE);
        int whole = -1;
        ::SendMessageW(bar_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&whole));
        return;
    }
    // The figure keeps its whole text (it only widens while the command runs, so the line does
    // not jump as it counts) and the bar stands beside it, sharing with the status line what the
    // figure, the button and the size grip leave, up to its usual width; with too little room
    // for a bar, the figure alone tells how far the command has come.
    const int text = int(TextExtent(bar_, font_, win::ToWide(progressText_)).cx) + Scaled(16);
    const int button = Scaled(64);
    const int grip = Scaled(20);
    int bar = std::min((int(client.right) - text - button - grip) / 2, Scaled(120));
    if (bar < Scaled(24)) {
        bar = 0;
    }
    const int right = std::max(0, int(client.right) - button - grip);
    int parts[4] = {std::max(0, right - bar - text), std::max(0, right - bar), right, -1};
    ::SendMessageW(bar_, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(parts));
    ::SendMessageW(bar_, SB_SETTEXTW, 1,
                   reinterpret_cast<LPARAM>(win::ToWide(progressText_).c_str()));
    RECT cell{};
    ::SendMessageW(bar_, SB_GETRECT, 2, reinterpret_cast<LPARAM>(&cell));
    ::MoveWindow(progressBar_, cell.left + 1, cell.top + 2, cell.right - cell.left - 2,
                 cell.bottom - cell.top - 4, TRUE);
    ::ShowWindow(progressBar_, bar > 0 ? SW_SHOWNA : SW_HIDE);
    ::SendMessageW(bar_, SB_GETRECT, 3, reinterpret_cast<LPARAM>(&cell));
    ::MoveWindow(cancelButton_, cell.left + 1, cell.top + 1, button - 2, cell.bottom - cell.top - 2,
                 TRUE);
}

void MainStatusBar::ShowStatus(const std::string& text, HFONT font) {
    RECT status{};
    ::GetClientRect(bar_, &status);
    if (!progressText_.empty()) {
        ::SendMessageW(bar_, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&status));
    }
    // The size grip and the bar's borders take some of the width.
    const int room = std::max(0, int(status.right - status.left) - Scaled(24));
    ::SendMessageW(bar_, WM_SETFONT, WPARAM(font), FALSE);
    std::string shown;
    {
        const WindowDc dc(bar_);
        const SelectedObject selected(dc.get(), font);
        shown = ShortenStatus(text, DcMeasure(dc.get()), room);
    }
    SetWindowTextUtf8(bar_, shown);
    // One tip over the bar: the whole line when it is shown shortened, then the entries the last
    // command could not switch. (The bar's own tip for a cut-off part would overlap it.)
    ::SendMessageW(bar_, SB_SETTIPTEXTW, 0, reinterpret_cast<LPARAM>(L""));
    std::wstring tip = win::ToWide(shown == text ? "" : text);
    // A tip holds about a thousand characters: a very long path gives way in its middle, so
    // that the list of failures keeps its last line.
    if (tip.size() > kTipStatusRoom) {
        tip = tip.substr(0, kTipStatusRoom / 2) + L"\u2026" +
              tip.substr(tip.size() - kTipStatusRoom / 2);
    }
    if (!failuresText_.empty()) {
        tip += (tip.empty() ? L"" : L"\r\n\r\n") + win::ToWide(failuresText_);
    }
    std::wstring lines;
    for (const wchar_t c : tip) {
        lines +=
            c == L'\n' && (lines.empty() || lines.back() != L'\r') ? L"\r\n" : std::wstring(1, c);
    }
    tipText_ = std::move(lines);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = owner_;
    tool.uId = reinterpret_cast<UINT_PTR>(bar_);
    tool.lpszText = tipText_.data();
    ::SendMessageW(toolTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace packmeter::win32

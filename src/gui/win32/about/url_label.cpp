#include "gui/win32/about/url_label.hpp"

#include <shellapi.h>
#include <windowsx.h>

#include <cstring>
#include <string>

#include "core/about/url_target.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

constexpr UINT kCopyCommand = 1;

}  // namespace

ShellOpener& ShellOpen() {
    static ShellOpener opener = [](const std::wstring& target, HWND owner) -> std::string {
        const auto result = reinterpret_cast<INT_PTR>(
            ::ShellExecuteW(owner, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (result > 32) {
            return {};
        }
        switch (result) {
            case SE_ERR_NOASSOC:
            case SE_ERR_ASSOCINCOMPLETE:
                return "no application is set to open it";
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return "it does not exist";
            case SE_ERR_ACCESSDENIED:
                return "permission denied";
            default:
                return "the shell could not open it (error " + std::to_string(result) + ")";
        }
    };
    return opener;
}

bool CopyTextToClipboard(HWND owner, const std::wstring& text) {
    const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (!memory) {
        return false;
    }
    std::memcpy(::GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    bool done = false;
    if (::OpenClipboard(owner)) {
        ::EmptyClipboard();
        // The clipboard owns the memory once it has taken it.
        done = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        ::CloseClipboard();
    }
    if (!done) {
        ::GlobalFree(memory);
    }
    return done;
}

TUrlLabel::TUrlLabel(HWND parent, const std::string& caption, int x, int y, HFONT font)
    : caption_(caption) {
    LOGFONTW face{};
    ::GetObjectW(font, sizeof(face), &face);
    face.lfUnderline = TRUE;
    font_.reset(::CreateFontIndirectW(&face));
    const SIZE size = TextExtent(parent, font_.get(), win::ToWide(caption_));
    CreateWindowOf(L"PackmeterUrlLabel", 0, WS_CHILD | WS_VISIBLE, x, y, size.cx + 1, size.cy,
                   parent, nullptr);
    SetWindowTextUtf8(Hwnd(), caption_);
}

TUrlLabel::~TUrlLabel() {
    DestroyNow();
}

void TUrlLabel::SetColour(COLORREF colour) {
    colour_ = colour;
    ::InvalidateRect(Hwnd(), nullptr, TRUE);
}

void TUrlLabel::CopyCaption() {
    CopyTextToClipboard(Hwnd(), win::ToWide(caption_));
}

void TUrlLabel::Click() {
    if (onClick) {
        onClick();
    }
    if (const auto target = UrlLabelTarget(url_, caption_)) {
        const std::string problem =
            ShellOpen()(win::ToWide(*target), ::GetAncestor(Hwnd(), GA_ROOT));
        if (!problem.empty()) {
            const std::wstring text = win::ToWide("Cannot open " + *target + ": " + problem);
            ::MessageBoxW(::GetAncestor(Hwnd(), GA_ROOT), text.c_str(), L"Packmeter",
                          MB_OK | MB_ICONWARNING);
        }
    }
}

LRESULT TUrlLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            const HDC dc = ::BeginPaint(Hwnd(), &paint);
            {
                const SelectedObject selected(dc, font_.get());
                ::SetTextColor(dc, colour_);
                ::SetBkMode(dc, TRANSPARENT);
                const std::wstring text = win::ToWide(caption_);
                ::TextOutW(dc, 0, 0, text.c_str(), int(text.size()));
            }
            ::EndPaint(Hwnd(), &paint);
            return 0;
        }
        case WM_ERASEBKGND: {
            RECT area{};
            ::GetClientRect(Hwnd(), &area);
            ::FillRect(reinterpret_cast<HDC>(wParam), &area, ::GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_SETCURSOR:
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        case WM_LBUTTONDOWN:
            if (onMouseDown) {
                onMouseDown();
            }
            savedColour_ = colour_;
            SetColour(activeColor_);
            pressed_ = true;
            ::SetCapture(Hwnd());
            return 0;
        case WM_LBUTTONUP: {
            if (!pressed_) {
                return 0;
            }
            pressed_ = false;
            ::ReleaseCapture();
            SetColour(savedColour_);
            RECT area{};
            ::GetClientRect(Hwnd(), &area);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (::PtInRect(&area, at)) {
                Click();
            }
            return 0;
        }
        case WM_CONTEXTMENU: {
            UniqueMenu menu(::CreatePopupMenu());
            ::AppendMenuW(menu.get(), MF_STRING, kCopyCommand, L"Copy");
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (at.x == -1 && at.y == -1) {
                at = {0, 0};
                ::ClientToScreen(Hwnd(), &at);
            }
            const UINT chosen = UINT(::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                                      at.x, at.y, 0, Hwnd(), nullptr));
            if (chosen == kCopyCommand) {
                CopyCaption();
            }
            return 0;
        }
        default:
            break;
    }
    return DefaultHandling(message, wParam, lParam);
}

}  // namespace packmeter::win32

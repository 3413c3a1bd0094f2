#include "gui/win32/framework/screen_fonts.hpp"

#include <cwchar>

#include "gui/win32/framework/win_owned.hpp"

namespace packmeter::win32 {

namespace {

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

}  // namespace

int ScreenDpi() {
    const WindowDc screen(nullptr);
    const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

bool FontInstalled(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    const WindowDc screen(nullptr);
    ::EnumFontFamiliesExW(screen.get(), &wanted, &FontFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

HFONT CreateOwnerFont(HWND owner) {
    const auto ownerFont = reinterpret_cast<HFONT>(::SendMessageW(owner, WM_GETFONT, 0, 0));
    LOGFONTW face{};
    if (ownerFont) {
        ::GetObjectW(ownerFont, sizeof(face), &face);
    } else {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        face = metrics.lfMessageFont;
    }
    return ::CreateFontIndirectW(&face);
}

}  // namespace packmeter::win32

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

}  // namespace packmeter::win32

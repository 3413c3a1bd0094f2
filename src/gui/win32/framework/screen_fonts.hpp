#pragma once

// The screen's resolution and its installed fonts, as every window of the program sizes its
// controls and picks its faces.

#include <windows.h>

namespace packmeter::win32 {

// The screen's vertical resolution in dots per inch; 96 when the system gives none.
int ScreenDpi();

// Whether a font family of that face is installed.
bool FontInstalled(const wchar_t* face);

// A copy of the owner window's font, as the form's texts use it, or of the system's message
// font when the owner has none; the caller owns the new font.
HFONT CreateOwnerFont(HWND owner);

}  // namespace packmeter::win32

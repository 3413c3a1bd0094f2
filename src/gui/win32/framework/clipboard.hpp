#pragma once

// Text on the system's clipboard, for every window of the program.

#include <windows.h>

#include <string>

namespace packmeter::win32 {

// Puts the UTF-8 text on the clipboard as Unicode text (the system makes the other formats from
// it), the clipboard then owned by `owner`. Waits a moment for another program that holds the
// clipboard; false when it could not be opened or the text not placed.
bool SetClipboardText(HWND owner, const std::string& text);

}  // namespace packmeter::win32

#pragma once

// Text on the desktop's clipboard, for every window of the program.

#include <string_view>

namespace packmeter::qt {

// Puts the UTF-8 text on the clipboard as plain text; false when the clipboard did not take it.
bool SetClipboardText(std::string_view text);

}  // namespace packmeter::qt

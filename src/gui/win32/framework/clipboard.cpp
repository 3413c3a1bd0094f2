#include "gui/win32/framework/clipboard.hpp"

#include <cstring>

#include "gui/win32/framework/win_owned.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

bool OpenClipboardOf(HWND owner) {
    // Another program may hold the clipboard for a moment.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (::OpenClipboard(owner)) {
            return true;
        }
        ::Sleep(20);
    }
    return false;
}

}  // namespace

bool SetClipboardText(HWND owner, const std::string& text) {
    const std::wstring wide = win::ToWide(text);
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory) {
        return false;
    }
    void* data = ::GlobalLock(memory.get());
    if (!data) {
        return false;
    }
    std::memcpy(data, wide.c_str(), bytes);
    ::GlobalUnlock(memory.get());
    if (!OpenClipboardOf(owner)) {
        return false;
    }
    ::EmptyClipboard();
    bool placed = false;
    // The clipboard owns the memory once it has taken it.
    if (::SetClipboardData(CF_UNICODETEXT, memory.get())) {
        memory.release();
        placed = true;
    }
    ::CloseClipboard();
    return placed;
}

}  // namespace packmeter::win32

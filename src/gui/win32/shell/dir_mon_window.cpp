#include "gui/win32/shell/dir_mon_window.hpp"

namespace packmeter::win32 {

DirMonWindow::DirMonWindow() {
    // A message-only window: never shown, no place in the window list.
    CreateWindowOf(L"PackmeterDirMon", 0, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr);
}

DirMonWindow::~DirMonWindow() {
    DestroyNow();
}

PostToOwner DirMonWindow::Poster() {
    return [this](std::function<void()> run) {
        bool first = false;
        {
            std::lock_guard guard(lock_);
            first = queue_.empty();
            queue_.push_back(std::move(run));
        }
        // One message wakes the window for everything queued until it runs.
        if (first) {
            ::PostMessageW(Hwnd(), WM_DIRCHANGED, 0, 0);
        }
    };
}

LRESULT DirMonWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DIRCHANGED) {
        return DefaultHandling(message, wParam, lParam);
    }
    std::vector<std::function<void()>> queued;
    {
        std::lock_guard guard(lock_);
        queued.swap(queue_);
    }
    for (auto& run : queued) {
        run();
    }
    return 0;
}

}  // namespace packmeter::win32

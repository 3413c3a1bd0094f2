#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <vector>

#include "core/shell/dir_mon.hpp"
#include "gui/win32/framework/window.hpp"

namespace packmeter::win32 {

// The message sent to the monitor's hidden window: the first user message plus one.
inline constexpr UINT WM_DIRCHANGED = WM_USER + 1;

// A directory monitor's hidden window: what a watch's thread posts through Poster() runs on the
// thread that made the window, when it handles WM_DIRCHANGED. The monitors it serves must end
// before it does.
class DirMonWindow final : public Window {
  public:
    DirMonWindow();
    ~DirMonWindow() override;

    PostToOwner Poster();

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::mutex lock_;
    std::vector<std::function<void()>> queue_;
};

}  // namespace packmeter::win32

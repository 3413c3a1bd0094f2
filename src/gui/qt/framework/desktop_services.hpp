#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/app/main_form_logic.hpp"

namespace packmeter::qt {

// Starts programs the desktop's way: this program's own file for a folder, xdg-open for a
// document. Neither waits for the program; when xdg-open ends saying that nothing opens the
// document, `onNotOpened` hears of it on the UI thread.
class DesktopLauncher final : public Launcher,
                              public std::enable_shared_from_this<DesktopLauncher> {
  public:
    void StartInstance(const std::string& folder) override;
    std::string OpenDocument(const std::string& path) override;

    std::function<void(const std::string& path, const std::string& reason)> onNotOpened;
};

// The services of this platform for the main window: file system, number format, launcher,
// paths and the read-everything privilege.
MainFormServices DesktopServices();

}  // namespace packmeter::qt

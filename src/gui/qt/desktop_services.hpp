#pragma once

#include "core/app/main_form_logic.hpp"

namespace packmeter::qt {

// Starts programs the desktop's way: this program's own file for a folder, xdg-open for a
// document. Neither waits for the program nor reports a failure.
class DesktopLauncher final : public Launcher {
  public:
    void StartInstance(const std::string& folder) override;
    void OpenDocument(const std::string& path) override;
};

// The services of this platform for the main window: file system, number format, launcher,
// paths and the read-everything privilege.
MainFormServices DesktopServices();

}  // namespace packmeter::qt

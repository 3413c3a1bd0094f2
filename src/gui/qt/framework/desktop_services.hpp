#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "core/app/main_form_logic.hpp"

namespace packmeter::qt {

// Starts programs the desktop's way: this program's own file for a folder, xdg-open for a
// document. Neither waits for the program; when xdg-open ends with a failure, `onNotOpened`
// hears of it (with the reason) on the UI thread.
class DesktopLauncher final : public Launcher,
                              public std::enable_shared_from_this<DesktopLauncher> {
  public:
    void StartInstance(const std::string& folder) override;
    std::string OpenDocument(const std::string& path) override;

    std::function<void(const std::string& path, const std::string& reason)> onNotOpened;
};

// Opens a file or folder with the desktop's opener (xdg-open) without waiting for it;
// `onFailure` hears why, on the UI thread, when it did not open.
void OpenWithDesktop(const QString& path, std::function<void(const std::string& reason)> onFailure);
// What OpenWithDesktop runs: xdg-open (RunXdgOpen). Replaceable, so that tests can see what
// would be opened and answer for the opener.
using DesktopOpener =
    std::function<void(const QString& path, std::function<void(const std::string& reason)>)>;
DesktopOpener& DesktopOpen();
void RunXdgOpen(const QString& path, std::function<void(const std::string& reason)> onFailure);

// Why xdg-open did not open a document, from its exit code (-1: it crashed).
std::string XdgOpenFailure(int code);

// The services of this platform for the main window: file system, number format, launcher,
// paths and the read-everything privilege.
MainFormServices DesktopServices();

}  // namespace packmeter::qt

#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>

#include "core/shell/shell_space.hpp"

namespace packmeter::win32 {

// The Windows shell's namespace behind the shell browser: folders are bound from the desktop
// by item-id lists, objects are relative item ids, and context menus are the shell's own, with
// the program's items appended after the shell's commands.
class WinShellSpace final : public ShellSpace {
  public:
    // `owner`: the window that owns the menus, receives their messages while one is open and,
    // for interactive calls, owns the shell's dialogs. Without one, the program's main window.
    explicit WinShellSpace(HWND owner = nullptr);

    void SetOwner(HWND owner) { *owner_ = owner; }

    FolderBinding BindFolder(const std::string& path, bool interactive) override;
    bool ObjectExists(const std::string& path) const override;
    bool SamePath(const std::string& a, const std::string& b) const override;
    std::pair<std::string, std::string> SplitPath(const std::string& path) const override;
    bool IsRootPath(const std::string& path) const override;
    bool HasSeparator(const std::string& name) const override;

  private:
    std::shared_ptr<HWND> owner_;
};

}  // namespace packmeter::win32

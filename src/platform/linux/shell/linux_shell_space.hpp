#pragma once

// The shell namespace of a Linux desktop as the shell browser sees it: folders are file-system
// folders, objects are the names in them, and the root "/" is the one object of the computer's
// folder (the empty path), as a drive is on Windows. The context menu itself belongs to the
// window's toolkit and comes from `makeMenu`.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/shell/shell_space.hpp"

namespace packmeter::linuxfs {

// Makes the context menu for `paths` (each a whole path); null when none can be made.
using ContextMenuFactory = std::function<std::unique_ptr<ShellContextMenu>(
    std::vector<std::string> paths, bool interactive)>;

std::shared_ptr<ShellSpace> MakeLinuxShellSpace(ContextMenuFactory makeMenu);

}  // namespace packmeter::linuxfs

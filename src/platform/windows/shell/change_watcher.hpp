#pragma once

#include <memory>

#include "core/shell/dir_mon.hpp"

namespace packmeter::win {

// Directory watches on the system's change notifications. A watch waits on its notification and
// an event that stops it, so it uses no processor time between changes; paths of any length
// work ("\\?\" form). `subtree` watches the whole tree below the folder.
std::shared_ptr<ChangeWatcher> MakeChangeWatcher();

}  // namespace packmeter::win

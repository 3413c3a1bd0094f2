#pragma once

#include <memory>

#include "core/shell/dir_mon.hpp"

namespace packmeter::linuxfs {

// Directory watches on inotify. A watch waits in poll() on its inotify descriptor and an event
// descriptor that stops it, so it uses no processor time between changes. With `subtree`, every
// sub-folder gets a watch of its own, those made or moved in later too; when the system's limit
// of watches is reached the watch says so through `failed` and goes on with what it has.
std::shared_ptr<ChangeWatcher> MakeInotifyWatcher();

}  // namespace packmeter::linuxfs

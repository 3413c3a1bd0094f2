#pragma once

#include <sys/types.h>

namespace packmeter::linuxfs {

// True when any process holds the file (dev, ino) open through a descriptor or a memory
// mapping, apart from this process's own descriptor `ownFd`. Processes whose descriptors this
// process may not inspect (other users' ones, without root) are passed over.
bool OpenByAnyProcess(dev_t dev, ino_t ino, int ownFd);

}  // namespace packmeter::linuxfs

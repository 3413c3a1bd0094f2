#pragma once

#include <sys/types.h>

#include <string>

namespace packmeter::linuxfs {

// A process that holds the file (dev, ino) open through a descriptor or a memory mapping,
// apart from this process's own descriptor `ownFd`, as "process PID (NAME)"; empty when none is
// found. Processes whose descriptors this process may not inspect (other users' ones, without
// root) are passed over.
std::string FindHolder(dev_t dev, ino_t ino, int ownFd);

}  // namespace packmeter::linuxfs

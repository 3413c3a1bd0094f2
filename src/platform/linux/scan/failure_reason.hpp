#pragma once

#include <string>

namespace packmeter::linuxfs {

// Why a call failed with `error` (an errno value), in the words of the command's messages:
// "disk full", "permission denied", ... Error 0 stands for a file that changed under the call.
std::string ErrnoReason(int error);

}  // namespace packmeter::linuxfs

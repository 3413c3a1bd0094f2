#pragma once

#include <string>

#include "scan/unique_fd.hpp"

namespace packmeter::linuxfs {

// Opens `path` like open(2) with `flags` (O_CLOEXEC is added), also when the path is longer
// than the kernel accepts in one call: then it is resolved one name at a time.
UniqueFd OpenPath(const std::string& path, int flags);

}  // namespace packmeter::linuxfs

#pragma once

#include <string>
#include <string_view>

#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

// Opens `path` like open(2) with `flags` (O_CLOEXEC is added), also when the path is longer
// than the kernel accepts in one call: then it is resolved one name at a time.
UniqueFd OpenPath(const std::string& path, int flags);

// "/proc/self/fd/N" or "/proc/self/fd/N/name": a short path to an open file or to a name in an
// open folder, whatever its depth, for calls that have no descriptor-relative form (getxattr
// and friends) or to reopen an O_PATH descriptor.
std::string ProcFdPath(int fd, std::string_view name = {});

}  // namespace packmeter::linuxfs

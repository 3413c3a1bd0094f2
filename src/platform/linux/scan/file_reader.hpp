#pragma once

#include <memory>
#include <string_view>

#include "core/fs/filesystem.hpp"

namespace packmeter::linuxfs {

// The regular file `name` in the folder `dirFd` opened for one reading pass, or nullptr.
std::unique_ptr<FileReader> OpenFileReader(int dirFd, std::string_view name);

}  // namespace packmeter::linuxfs

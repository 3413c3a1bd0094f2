#pragma once

#include <string>

#include "core/fs/filesystem.hpp"

namespace packmeter {

// The status line about a volume: "File System: <name>    (<whether it compresses per file>)".
std::string VolumeLine(const VolumeInfo& volume);

}  // namespace packmeter

#pragma once

#include <string>

#include "core/fs/filesystem.hpp"

namespace packmeter {

// The status line about a volume: "File System: <name>    (<whether it compresses per file>)".
std::string VolumeLine(const VolumeInfo& volume);

// The volume in short, for the line that ends a scan: "<name> (supports file based
// compression)" or "<name> (doesn't support file based compression)".
std::string VolumeSummary(const VolumeInfo& volume);

}  // namespace packmeter

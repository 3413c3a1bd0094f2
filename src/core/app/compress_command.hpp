#pragma once

#include <optional>
#include <string>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"

namespace packmeter {

// Switches compression of the entry `name` in `folder` (trailing separator) as the compression
// command does: a folder through the walk (each folder switched with its own files, then
// measured; failures inside are not reported), a file directly. Returns the updated row, or
// nothing when the file could not be switched or found again, which ends the command.
std::optional<EntryRow> CompressEntry(FileSystem& fs, const std::string& folder,
                                      const std::string& name, bool decompress, int iconIndex = -1);

}  // namespace packmeter

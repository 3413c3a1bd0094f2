#pragma once

#include <string>
#include <string_view>

#include "core/fs/filesystem.hpp"

namespace packmeter {

// Folder names the walks pass over: "." and "..", told by the whole name ("..cache" is a
// folder like any other).
bool IsExcludedFolderName(std::string_view name);

// Splits a path into its parent folder (with trailing separator) and its last name.
struct PathParts {
    std::string parent;
    std::string name;
};
PathParts SplitPath(std::string_view path);

// Switches the compression of one file. False when the platform has no compression calls, the
// path is not a regular file, or the switch fails.
bool SetFileCompression(FileSystem& fs, const std::string& path, bool decompress);

// Switches the folder itself first; only when that succeeds, its regular files (and, with
// `recurse`, its sub-folders, each completely before the next entry), in listing order. The
// first failure stops everything and is passed up; nothing is rolled back.
bool SetFolderCompression(FileSystem& fs, const std::string& path, bool decompress, bool recurse);
bool SetFolderCompression(Folder& folder, bool decompress, bool recurse);

}  // namespace packmeter

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

// Which entry a switch failed on and why ("disk full", ...; empty when the back end cannot
// tell). `path` is relative to the folder the switch started from, empty for that folder
// itself; sub-folders end in a separator.
struct CompressionFailure {
    std::string path;
    std::string reason;
};

// Switches the compression of one file. False when the platform has no compression calls, the
// path is not a regular file, or the switch fails; then `failure`, when given, says why.
bool SetFileCompression(FileSystem& fs, const std::string& path, bool decompress,
                        CompressionFailure* failure = nullptr);

}  // namespace packmeter

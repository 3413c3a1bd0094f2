#pragma once

// What each platform provides to the program; one implementation per operating system.

#include <memory>
#include <string>

#include "core/fs/filesystem.hpp"
#include "core/utils/size_text.hpp"

namespace packmeter {

// The file system of this platform, for scans, walks and compression switches.
std::shared_ptr<FileSystem> MakeFileSystem();

// The thousands and decimal separators of the user's locale, read once.
const NumberFormat& UserNumberFormat();

// True when the path names an existing folder (links to folders are not followed).
bool IsFolder(const std::string& path);

// Why `path` cannot be reached, in a few words ("no such file or folder", "symbolic-link loop",
// "permission denied"); empty when it names an existing entry (a link counts as one).
std::string PathProblem(const std::string& path);

// Lets the process read every folder: true when the privilege is now in effect.
bool EnableBackupPrivilege();

// The version text of a program file (empty name: this program); empty when it has none.
std::string GetVersionString(bool productOnly, const std::string& fileName = {});

// True where the platform's compression calls exist.
bool IsNTPlatform();

}  // namespace packmeter

namespace packmeter {

// The path made absolute against the current folder, without "." and ".." steps.
std::string FullPath(const std::string& path);

// Lets the process keep as many files open as the system allows: the walk holds one open
// folder per level of depth.
void RaiseOpenFileLimit();

// Measures without the measuring helper for the rest of the run (Linux: exact btrfs sizes for
// users without CAP_SYS_ADMIN come from it; elsewhere there is none).
void DisableMeasureHelper();

}  // namespace packmeter

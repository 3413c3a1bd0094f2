#pragma once

// The edge between the program's UTF-8 strings and the wide strings of the Win32 API, and the one
// place where paths are put into the form every Win32 call receives.

#include <string>
#include <string_view>

namespace packmeter::win {

// UTF-16 to UTF-8. A lone surrogate (NTFS allows them in names) becomes its generalised 3-byte
// form, so that every name the file system lists converts back to exactly the same name.
std::string ToUtf8(std::wstring_view wide);

// UTF-8 (and the generalised form above) to UTF-16; bytes that begin no valid sequence become
// U+FFFD.
std::wstring ToWide(std::string_view utf8);

// The absolute path without "." and ".." steps, separators as backslashes; the path unchanged when
// the system cannot resolve it. A bare drive ("C:") is its root ("C:\"), not the current folder
// of that drive.
std::wstring FullPathName(const std::wstring& path);

// The path in the form with no length limit: "\\?\C:\..." or "\\?\UNC\server\share\...". Relative
// paths are resolved first. Paths already in "\\?\" or "\\.\" form are returned as they are.
std::wstring LongPath(const std::wstring& path);

// The everyday form of a path: a "\\?\" prefix taken off again ("\\?\UNC\s\x" becomes "\\s\x").
std::wstring PlainPath(std::wstring_view path);

// The root of the volume a path lies on, in everyday form with a trailing backslash: the folder
// a volume is mounted on, "C:\" or "\\server\share\". Empty when the path names no volume.
std::wstring VolumeRoot(const std::wstring& path);

}  // namespace packmeter::win

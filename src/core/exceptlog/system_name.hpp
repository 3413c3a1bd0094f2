#pragma once

// The Operating System "Type" value of a report: the name of the running system.

#include <cstdint>
#include <string>
#include <string_view>

namespace packmeter {

// The Windows release named by its version numbers; desktop and server releases that share
// version 10.0 are told apart by their build numbers. Empty for an unknown version.
std::string WindowsSystemName(std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                              bool workstation);

// The distribution's pretty name from the text of an os-release file; empty when it names none.
std::string OsReleaseName(std::string_view osRelease);

}  // namespace packmeter

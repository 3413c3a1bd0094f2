#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/fs/filesystem.hpp"

namespace packmeter::linuxfs {

// The NTFS attribute word that ntfs-3g exposes as the extended attribute "system.ntfs_attrib"
// (host byte order) and "system.ntfs_attrib_be" (big-endian). Its bits are the Windows ones.
namespace ntfs = ::packmeter::attr;

// The attribute word of an open file or folder (also an O_PATH descriptor); nothing when the
// file system is not ntfs-3g or the word cannot be read.
std::optional<std::uint32_t> ReadNtfsAttrib(int fd);
// The same for the entry `name` of the open folder `dirFd`, without following a link.
std::optional<std::uint32_t> ReadNtfsAttribAt(int dirFd, std::string_view name);
// Writes the attribute word of an open file or folder.
bool WriteNtfsAttrib(int fd, std::uint32_t value);

}  // namespace packmeter::linuxfs

namespace packmeter::linuxfs {

// Sets or clears the compressed bit of an open ntfs-3g folder; files created in it afterwards
// are compressed. ntfs-3g changes this bit only on folders: on files it accepts and ignores it.
bool SetNtfsFolderCompression(int dirFd, bool decompress);

}  // namespace packmeter::linuxfs

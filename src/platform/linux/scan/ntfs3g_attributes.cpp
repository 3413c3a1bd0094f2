#include "platform/linux/scan/ntfs3g_attributes.hpp"

#include <sys/xattr.h>

#include "platform/linux/scan/open_path.hpp"

namespace packmeter::linuxfs {

namespace {

constexpr const char* kAttrib = "system.ntfs_attrib";
constexpr const char* kAttribBigEndian = "system.ntfs_attrib_be";

std::optional<std::uint32_t> ReadWord(const std::string& path) {
    std::uint32_t value = 0;
    if (::lgetxattr(path.c_str(), kAttrib, &value, sizeof value) != sizeof value) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::uint32_t> ReadNtfsAttrib(int fd) {
    // getxattr on the magic link follows it to the open file; this works for O_PATH
    // descriptors too, which fgetxattr refuses.
    std::uint32_t value = 0;
    if (::getxattr(ProcFdPath(fd).c_str(), kAttrib, &value, sizeof value) != sizeof value) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> ReadNtfsAttribAt(int dirFd, std::string_view name) {
    return ReadWord(ProcFdPath(dirFd, name));
}

bool WriteNtfsAttrib(int fd, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    return ::setxattr(ProcFdPath(fd).c_str(), kAttribBigEndian, bytes, sizeof bytes, 0) == 0;
}

}  // namespace packmeter::linuxfs

namespace packmeter::linuxfs {

bool SetNtfsFolderCompression(int dirFd, bool decompress) {
    const std::optional<std::uint32_t> attrib = ReadNtfsAttrib(dirFd);
    if (!attrib) {
        return false;
    }
    const std::uint32_t wanted =
        decompress ? *attrib & ~ntfs::kCompressed : *attrib | ntfs::kCompressed;
    if (wanted == *attrib) {
        return true;
    }
    // Read back: a volume whose clusters are too large for compression keeps the bit clear.
    return WriteNtfsAttrib(dirFd, wanted) && ReadNtfsAttrib(dirFd) == wanted;
}

}  // namespace packmeter::linuxfs

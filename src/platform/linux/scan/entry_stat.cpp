#include "platform/linux/scan/entry_stat.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

bool StatRecord::IsRegular() const {
    return stated && S_ISREG(mode);
}
bool StatRecord::IsFolder() const {
    return stated && S_ISDIR(mode);
}
bool StatRecord::IsLink() const {
    return stated && S_ISLNK(mode);
}

void StatEntry(int dirFd, const DirName& name, const FolderVolume& volume, bool linkTargets,
               StatRecord& record) {
    record = StatRecord{};
    record.name = name.name;
    record.dirType = name.type;
    // AT_STATX_DONT_SYNC keeps network file systems from a round trip per entry. FUSE is left
    // out: there it returns the attributes cached before our own writes (a file just
    // compressed would keep showing its old size).
    const int flags =
        AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (volume.fuse ? 0 : AT_STATX_DONT_SYNC);
    // The name is NUL-terminated inside the listing buffer.
    const char* path = name.name.data();
    struct statx stx;
    if (::statx(dirFd, path, flags,
                STATX_TYPE | STATX_SIZE | STATX_BLOCKS | STATX_INO | STATX_NLINK | STATX_MNT_ID,
                &stx) != 0) {
        record.vanished = errno == ENOENT;
        return;
    }
    record.stated = true;
    record.mode = stx.stx_mode & S_IFMT;
    record.inode = stx.stx_ino;
    record.links = (stx.stx_mask & STATX_NLINK) != 0 ? stx.stx_nlink : 1;
    record.size = stx.stx_size;
    record.blocks = stx.stx_blocks;
    record.occupied = stx.stx_blocks * 512;
    record.markedCompressed = (stx.stx_attributes_mask & STATX_ATTR_COMPRESSED) != 0 &&
                              (stx.stx_attributes & STATX_ATTR_COMPRESSED) != 0;
    record.where.devMajor = stx.stx_dev_major;
    record.where.devMinor = stx.stx_dev_minor;
    record.where.hasMountId = (stx.stx_mask & STATX_MNT_ID) != 0;
    record.where.mountId = stx.stx_mnt_id;
    if (linkTargets && S_ISLNK(stx.stx_mode)) {
        struct statx target;
        record.linkToFolder =
            ::statx(dirFd, path, flags & ~AT_SYMLINK_NOFOLLOW, STATX_TYPE, &target) == 0 &&
            S_ISDIR(target.stx_mode);
    }
}

bool HasHole(int dirFd, std::string_view name, std::uint64_t size) {
    const UniqueFd fd(::openat(dirFd, std::string(name).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        return true;
    }
    const off_t hole = ::lseek(fd.get(), 0, SEEK_HOLE);
    return hole < 0 || static_cast<std::uint64_t>(hole) < size;
}

}  // namespace packmeter::linuxfs

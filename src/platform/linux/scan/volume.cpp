#include "platform/linux/scan/volume.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <charconv>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/linux/scan/btrfs_extents.hpp"
#include "platform/linux/scan/measure_client.hpp"
#include "platform/linux/scan/ntfs3g_attributes.hpp"

namespace packmeter::linuxfs {

namespace {

// f_type values (linux/magic.h).
constexpr unsigned long kBtrfsMagic = 0x9123683E;
constexpr unsigned long kFuseMagic = 0x65735546;
constexpr unsigned long kNtfs3Magic = 0x7366746E;
constexpr unsigned long kF2fsMagic = 0xF2F52010;

// NTFS compression works only with clusters of at most 4 KiB.
constexpr long kLargestCompressibleCluster = 4096;

// ntfs-3g mounts as plain "fuse" or "fuseblk" without a subtype; the attribute word it offers
// on every file is what tells it apart from other FUSE file systems.
bool IsNtfs3g(int fd) {
    return ReadNtfsAttrib(fd).has_value();
}

struct MountLine {
    std::string fsType;
    std::string superOptions;
};

// The line of /proc/self/mountinfo for one mount id:
// "id parent major:minor root mountpoint options [optional...] - fstype source superoptions".
std::optional<MountLine> FindMount(std::uint64_t mountId) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::uint64_t id = 0;
        const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), id);
        if (ec != std::errc() || id != mountId) {
            continue;
        }
        const auto dash = line.find(" - ");
        if (dash == std::string::npos) {
            return std::nullopt;
        }
        std::string_view rest = std::string_view(line).substr(dash + 3);
        MountLine mount;
        const auto typeEnd = rest.find(' ');
        mount.fsType = std::string(rest.substr(0, typeEnd));
        if (typeEnd != std::string_view::npos) {
            rest = rest.substr(typeEnd + 1);
            const auto sourceEnd = rest.find(' ');
            if (sourceEnd != std::string_view::npos) {
                mount.superOptions = std::string(rest.substr(sourceEnd + 1));
            }
        }
        return mount;
    }
    return std::nullopt;
}

bool HasOption(std::string_view options, std::string_view prefix) {
    while (!options.empty()) {
        const auto comma = options.find(',');
        if (options.substr(0, comma).starts_with(prefix)) {
            return true;
        }
        options = comma == std::string_view::npos ? std::string_view() : options.substr(comma + 1);
    }
    return false;
}

}  // namespace

std::optional<MountIdentity> IdentifyMount(int fd) {
    struct statx stx;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &stx) != 0) {
        return std::nullopt;
    }
    MountIdentity where;
    where.devMajor = stx.stx_dev_major;
    where.devMinor = stx.stx_dev_minor;
    where.hasMountId = (stx.stx_mask & STATX_MNT_ID) != 0;
    where.mountId = stx.stx_mnt_id;
    return where;
}

FolderVolume DetectVolume(int fd, const MountIdentity& where) {
    FolderVolume volume;
    volume.where = where;
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) {
        return volume;
    }
    const auto type = static_cast<unsigned long>(fs.f_type);
    volume.fuse = type == kFuseMagic;
    if (type == kBtrfsMagic) {
        volume.kind = VolumeKind::kBtrfs;
        volume.compressible = true;
        volume.extentSearch = ExtentSearchPermitted(fd);
        volume.measureHelper = !volume.extentSearch && MeasureHelper::Instance().Available();
    } else if (type == kFuseMagic && IsNtfs3g(fd)) {
        volume.kind = VolumeKind::kNtfs3g;
        volume.compressible = fs.f_bsize <= kLargestCompressibleCluster;
    } else if (type == kNtfs3Magic) {
        volume.kind = VolumeKind::kNtfs3;
    } else if (type == kF2fsMagic) {
        volume.kind = VolumeKind::kF2fs;
    }
    return volume;
}

VolumeInfo DescribeVolume(int fd) {
    VolumeInfo info;
    const std::optional<MountIdentity> where = IdentifyMount(fd);
    struct statfs fs;
    if (!where || ::fstatfs(fd, &fs) != 0) {
        return info;
    }
    const std::optional<MountLine> mount =
        where->hasMountId ? FindMount(where->mountId) : std::nullopt;
    const auto type = static_cast<unsigned long>(fs.f_type);
    info.valid = true;
    info.fileSystem = mount ? mount->fsType : "unknown";
    if (type == kBtrfsMagic) {
        info.fileSystem = "btrfs";
        info.supportsCompression = true;
        if (!ExtentSearchPermitted(fd) && !MeasureHelper::Instance().Available()) {
            info.notice = MeasureHelper::Instance().Notice();
        }
    } else if ((type == kFuseMagic && IsNtfs3g(fd)) || type == kNtfs3Magic) {
        info.fileSystem = "NTFS";
        info.supportsCompression = fs.f_bsize <= kLargestCompressibleCluster;
    } else if (type == kF2fsMagic) {
        // f2fs compresses only when made with the compression feature and mounted with an
        // algorithm.
        info.supportsCompression = mount && HasOption(mount->superOptions, "compress_algorithm");
    }
    return info;
}

}  // namespace packmeter::linuxfs

#include "platform/linux/scan/volume.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

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
    std::string mountPoint;  // with the octal escapes of mountinfo ("\\040" for a space)
    std::string fsType;
    std::string source;
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
        std::string_view fields(line);
        for (int field = 0; field < 4 && !fields.empty(); ++field) {
            fields.remove_prefix(std::min(fields.size(), fields.find(' ') + 1));
        }
        mount.mountPoint = std::string(fields.substr(0, fields.find(' ')));
        const auto typeEnd = rest.find(' ');
        mount.fsType = std::string(rest.substr(0, typeEnd));
        if (typeEnd != std::string_view::npos) {
            rest = rest.substr(typeEnd + 1);
            const auto sourceEnd = rest.find(' ');
            mount.source = std::string(rest.substr(0, sourceEnd));
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

// Undoes the octal escapes of mountinfo.
std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size()) {
            int value = 0;
            if (std::from_chars(text.data() + at + 1, text.data() + at + 4, value, 8).ec ==
                std::errc()) {
                out += static_cast<char>(value);
                at += 3;
                continue;
            }
        }
        out += text[at];
    }
    return out;
}

// ntfs-3g does not show its own options in mountinfo, and with "nocompression" new files stay
// plain even in compressed folders. Its daemon's command line has them: the process of an
// ntfs-3g or lowntfs-3g program that names this mount's source or mount point.
bool NtfsCompressionOff(const MountLine& mount) {
    const std::string mountPoint = Unescape(mount.mountPoint);
    const std::string source = Unescape(mount.source);
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream in(process.path() / "cmdline", std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(in, arg, '\0');) {
            args.push_back(arg);
        }
        if (args.empty() || args[0].find("ntfs-3g") == std::string::npos ||
            std::find_if(args.begin() + 1, args.end(), [&](const std::string& arg) {
                return arg == mountPoint || arg == source;
            }) == args.end()) {
            continue;
        }
        for (std::size_t i = 1; i + 1 < args.size(); ++i) {
            if (args[i] == "-o" && HasOption(args[i + 1], "nocompression")) {
                return true;
            }
        }
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
        // Only folders and files have extents to measure; a pipe, device or link reached
        // without opening it (O_PATH) cannot be asked and needs no notice.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_PATH) == 0 && !ExtentSearchPermitted(fd) &&
            !MeasureHelper::Instance().Available()) {
            info.notice = MeasureHelper::Instance().Notice();
        }
    } else if ((type == kFuseMagic && IsNtfs3g(fd)) || type == kNtfs3Magic) {
        info.fileSystem = "NTFS";
        info.supportsCompression = fs.f_bsize <= kLargestCompressibleCluster;
        if (type == kFuseMagic && mount && NtfsCompressionOff(*mount)) {
            info.supportsCompression = false;
            info.notice = "mounted with the option nocompression: files cannot be compressed";
        }
    } else if (type == kF2fsMagic) {
        // f2fs compresses only when made with the compression feature and mounted with an
        // algorithm.
        info.supportsCompression = mount && HasOption(mount->superOptions, "compress_algorithm");
    }
    return info;
}

}  // namespace packmeter::linuxfs

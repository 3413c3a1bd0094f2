#include "platform/linux/shell/entry_properties.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace packmeter::linuxfs {

namespace {

std::string UserName(uid_t uid) {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

std::timespec Time(const statx_timestamp& stamp) {
    return {static_cast<std::time_t>(stamp.tv_sec), static_cast<long>(stamp.tv_nsec)};
}

std::pair<std::string, std::string> SplitPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

std::string PermissionText(std::uint32_t mode) {
    std::string text = "---------";
    const char letters[] = "rwx";
    for (int bit = 0; bit < 9; ++bit) {
        if (mode & (0400u >> bit)) {
            text[bit] = letters[bit % 3];
        }
    }
    const auto special = [&text](std::size_t at, bool set, char withExec, char without) {
        if (set) {
            text[at] = text[at] == 'x' ? withExec : without;
        }
    };
    special(2, mode & S_ISUID, 's', 'S');
    special(5, mode & S_ISGID, 's', 'S');
    special(8, mode & S_ISVTX, 't', 'T');
    return text;
}

EntryProperties ReadEntryProperties(FileSystem& fs, const std::string& path, const StopFlag* stop) {
    EntryProperties properties;
    struct statx info {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
              &info) != 0) {
        properties.error = std::strerror(errno);
        return properties;
    }
    properties.folder = S_ISDIR(info.stx_mode);
    properties.owner = UserName(info.stx_uid);
    properties.group = GroupName(info.stx_gid);
    properties.mode = info.stx_mode & 07777;
    properties.permissions = PermissionText(properties.mode);
    properties.modified = Time(info.stx_mtime);
    properties.accessed = Time(info.stx_atime);
    properties.changed = Time(info.stx_ctime);
    if (info.stx_mask & STATX_BTIME) {
        properties.created = Time(info.stx_btime);
    }
    properties.fileSystem = fs.GetVolumeInfo(path).fileSystem;

    // The entry's own line in its folder's listing gives its mark and, for a file, both sizes
    // as the list's rows show them.
    const auto [parent, name] = SplitPath(path);
    if (const auto folder = fs.OpenFolder(parent)) {
        folder->List(ListDetail::kSizesAndState, [&](const Entry& entry) {
            if (entry.name != name) {
                return true;
            }
            properties.flagged = (entry.attributes & (attr::kCompressed | attr::kSparse)) != 0;
            properties.size = entry.size;
            properties.onDisk = entry.onDisk;
            properties.byAlgorithm = entry.byAlgorithm;
            properties.unreadable = entry.unreadable ? 1 : 0;
            return false;
        });
    }
    if (properties.folder) {
        const FolderSizes sizes = GetFolderSizes(fs, path, kMeasure, stop);
        properties.size = sizes.logical;
        properties.onDisk = sizes.onDisk;
        properties.byAlgorithm = sizes.byAlgorithm;
        properties.unreadable = sizes.unreadable;
    }
    properties.state = RowState(properties.flagged, properties.size, properties.onDisk);
    return properties;
}

}  // namespace packmeter::linuxfs

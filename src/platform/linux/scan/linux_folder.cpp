#include "platform/linux/scan/linux_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/scan/btrfs_compression.hpp"
#include "platform/linux/scan/dir_reader.hpp"
#include "platform/linux/scan/entry_sizes.hpp"
#include "platform/linux/scan/entry_stat.hpp"
#include "platform/linux/scan/ntfs3g_attributes.hpp"
#include "platform/linux/scan/ntfs3g_rewrite.hpp"

namespace packmeter::linuxfs {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

std::unique_ptr<LinuxFolder> LinuxFolder::Create(UniqueFd fd, const LinuxFolder* parent) {
    if (!fd) {
        return nullptr;
    }
    const std::optional<MountIdentity> where = IdentifyMount(fd.get());
    if (!where) {
        return nullptr;
    }
    FolderVolume volume = parent && where->SameAs(parent->volume_.where)
                              ? parent->volume_
                              : DetectVolume(fd.get(), *where);
    volume.where = *where;
    return std::make_unique<LinuxFolder>(std::move(fd), volume);
}

bool LinuxFolder::List(ListDetail detail, const EntryVisitor& visit) {
    if (!listing_) {
        listing_ = true;
        const bool listed = ListFrom(fd_.get(), listedBefore_, detail, visit);
        listing_ = false;
        listedBefore_ = true;
        return listed;
    }
    // Listed again from inside a visit: a descriptor of its own keeps the outer listing's
    // position.
    const UniqueFd again(::openat(fd_.get(), ".", kFolderFlags));
    return again && ListFrom(again.get(), false, detail, visit);
}

bool LinuxFolder::ListFrom(int fd, bool rewind, ListDetail detail, const EntryVisitor& visit) {
    DirReader reader(fd, rewind);
    std::vector<DirName> names;
    std::vector<StatRecord> records;
    MeasureScratch scratch;
    bool first = true;
    while (reader.NextBatch(names)) {
        first = false;
        records.resize(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            StatEntry(fd, names[i], volume_, detail == ListDetail::kSizesAndState, records[i]);
        }
        MeasureBatch(fd, volume_, detail, records, scratch);
        for (const StatRecord& record : records) {
            if (record.vanished) {
                continue;
            }
            if (!visit(ToEntry(record, volume_))) {
                return true;
            }
        }
    }
    return !(first && reader.Failed());
}

std::unique_ptr<Folder> LinuxFolder::OpenSubfolder(std::string_view name) {
    return Create(UniqueFd(::openat(fd_.get(), std::string(name).c_str(), kFolderFlags)), this);
}

void LinuxFolder::SyncOnce() {
    // btrfs skips data still dirty in the page cache when it rewrites a file, so everything
    // written so far goes to disk first: once for the files of this folder, far cheaper than
    // a sync per file.
    if (!synced_) {
        ::syncfs(fd_.get());
        synced_ = true;
    }
}

bool LinuxFolder::SetCompression(bool decompress) {
    if (!volume_.compressible) {
        return false;
    }
    switch (volume_.kind) {
        case VolumeKind::kBtrfs:
            if (!SetBtrfsMark(fd_.get(), decompress)) {
                return false;
            }
            SyncOnce();
            return true;
        case VolumeKind::kNtfs3g:
            return SetNtfsFolderCompression(fd_.get(), decompress);
        default:
            return false;
    }
}

bool LinuxFolder::SetFileCompression(std::string_view name, bool decompress) {
    if (!volume_.compressible) {
        return false;
    }
    if (volume_.kind == VolumeKind::kNtfs3g) {
        return RewriteNtfsFile(fd_.get(), name, decompress);
    }
    if (volume_.kind != VolumeKind::kBtrfs) {
        return false;
    }
    const UniqueFd file(::openat(fd_.get(), std::string(name).c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    // The file lies on this folder's mount (a mount point cannot be a regular file).
    SyncOnce();
    return SetBtrfsMark(file.get(), decompress) && RewriteBtrfsFile(file.get(), decompress);
}

}  // namespace packmeter::linuxfs

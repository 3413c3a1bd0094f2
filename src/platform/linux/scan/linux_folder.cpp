#include "platform/linux/scan/linux_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/linux/scan/btrfs_compression.hpp"
#include "platform/linux/scan/dir_reader.hpp"
#include "platform/linux/scan/entry_sizes.hpp"
#include "platform/linux/scan/entry_stat.hpp"
#include "platform/linux/scan/failure_reason.hpp"
#include "platform/linux/scan/ntfs3g_attributes.hpp"
#include "platform/linux/scan/ntfs3g_rewrite.hpp"
#include "platform/linux/scan/scratch_folder.hpp"

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
    auto folder = std::make_unique<LinuxFolder>(std::move(fd), volume);
    // One sync of the volume serves the folders opened from a synced one on the same mount.
    folder->synced_ = parent && parent->synced_ && where->SameAs(parent->volume_.where);
    return folder;
}

bool LinuxFolder::List(ListDetail detail, const EntryVisitor& visit) {
    if (!listing_) {
        listing_ = true;
        const bool listed = ListFrom(fd_.get(), detail, visit);
        listing_ = false;
        return listed;
    }
    // Listed again from inside a visit: a descriptor of its own keeps the outer listing's
    // position.
    const UniqueFd again(::openat(fd_.get(), ".", kFolderFlags));
    return again && ListFrom(again.get(), detail, visit);
}

bool LinuxFolder::ListFrom(int fd, ListDetail detail, const EntryVisitor& visit) {
    DirReader reader(fd);
    std::vector<DirName> names;
    std::vector<StatRecord> records;
    MeasureScratch scratch;
    bool first = true;
    while (reader.NextBatch(names)) {
        first = false;
        // The scratch folders of file rewrites are never part of the tree.
        std::erase_if(names, [](const DirName& name) { return IsScratchFolderName(name.name); });
        records.resize(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            StatEntry(fd, names[i], volume_, records[i]);
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

bool LinuxFolder::Fail(std::string reason) {
    failure_ = std::move(reason);
    return false;
}

void LinuxFolder::RecoverOnce() {
    // A rewrite killed midway left its scratch folder here; the first switch in this folder
    // finishes or undoes it.
    if (!recovered_) {
        RecoverScratchFolders(fd_.get());
        recovered_ = true;
    }
}

bool LinuxFolder::SetCompression(bool decompress) {
    failure_.clear();
    if (!volume_.compressible) {
        return Fail("not supported: the file system does not compress per file");
    }
    switch (volume_.kind) {
        case VolumeKind::kBtrfs:
            if (!SetBtrfsMark(fd_.get(), decompress)) {
                return Fail(ErrnoReason(errno));
            }
            SyncOnce();
            return true;
        case VolumeKind::kNtfs3g:
            RecoverOnce();
            return SetNtfsFolderCompression(fd_.get(), decompress) || Fail(ErrnoReason(errno));
        default:
            return Fail("not supported: the file system does not compress per file");
    }
}

bool LinuxFolder::SetFileCompression(std::string_view name, bool decompress) {
    failure_.clear();
    if (!volume_.compressible) {
        return Fail("not supported: the file system does not compress per file");
    }
    if (volume_.kind == VolumeKind::kNtfs3g) {
        RecoverOnce();
        return RewriteNtfsFile(fd_.get(), name, decompress, failure_);
    }
    if (volume_.kind != VolumeKind::kBtrfs) {
        return Fail("not supported: the file system does not compress per file");
    }
    const UniqueFd file(::openat(fd_.get(), std::string(name).c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file || ::fstat(file.get(), &st) != 0) {
        return Fail(ErrnoReason(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail("not a regular file");
    }
    // The file lies on this folder's mount (a mount point cannot be a regular file).
    SyncOnce();
    if (!SetBtrfsMark(file.get(), decompress) || !RewriteBtrfsFile(file.get(), decompress)) {
        return Fail(ErrnoReason(errno));
    }
    return true;
}

}  // namespace packmeter::linuxfs

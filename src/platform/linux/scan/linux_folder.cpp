#include "platform/linux/scan/linux_folder.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/utils/forecast.hpp"
#include "core/utils/program_thread.hpp"
#include "platform/chunk_codecs.hpp"
#include "platform/linux/scan/btrfs_compression.hpp"
#include "platform/linux/scan/dir_reader.hpp"
#include "platform/linux/scan/entry_sizes.hpp"
#include "platform/linux/scan/entry_stat.hpp"
#include "platform/linux/scan/failure_reason.hpp"
#include "platform/linux/scan/file_reader.hpp"
#include "platform/linux/scan/ntfs3g_attributes.hpp"
#include "platform/linux/scan/ntfs3g_rewrite.hpp"
#include "platform/linux/scan/scratch_folder.hpp"

namespace packmeter::linuxfs {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The file type of a listed entry that is neither a folder nor a regular file (nor of unknown
// type), 0 for the others.
std::uint32_t ModeOfSpecial(unsigned char type) {
    switch (type) {
        case DT_LNK:
            return S_IFLNK;
        case DT_CHR:
            return S_IFCHR;
        case DT_BLK:
            return S_IFBLK;
        case DT_FIFO:
            return S_IFIFO;
        case DT_SOCK:
            return S_IFSOCK;
        default:
            return 0;
    }
}

// Cleared once the kernel refuses openat2 (older than 5.6, or filtered out by a sandbox).
std::atomic<bool> openat2Works{true};

// Opens the sub-folder `name` of `dirFd` only if that crosses no mount point; EXDEV if it would.
// -1 with ENOSYS when openat2 cannot be used here.
int OpenOnSameMount(int dirFd, const char* name) {
    if (!openat2Works.load(std::memory_order_relaxed)) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = kFolderFlags;
    how.resolve = RESOLVE_NO_XDEV;
    const long fd = ::syscall(SYS_openat2, dirFd, name, &how, sizeof how);
    if (fd < 0 && (errno == ENOSYS || errno == EPERM)) {
        // EPERM: a seccomp filter that refuses what it does not know.
        openat2Works.store(false, std::memory_order_relaxed);
        errno = ENOSYS;
    }
    return static_cast<int>(fd);
}

}  // namespace

std::unique_ptr<LinuxFolder> LinuxFolder::Create(UniqueFd fd, const LinuxFolder* parent,
                                                 const MountIdentity* known) {
    if (!fd) {
        return nullptr;
    }
    const std::optional<MountIdentity> where = known ? *known : IdentifyMount(fd.get());
    if (!where || (parent && !known && !where->SameAs(parent->volume_.where))) {
        // Another mount that the parent's listing did not report: not entered.
        return nullptr;
    }
    FolderVolume volume = parent && where->SameAs(parent->volume_.where)
                              ? parent->volume_
                              : DetectVolume(fd.get(), *where);
    volume.where = *where;
    auto folder = std::make_unique<LinuxFolder>(std::move(fd), volume);
    // One sync of the volume serves the folders opened from a synced one on the same mount.
    folder->synced_ = parent && parent->synced_ && where->SameAs(parent->volume_.where);
    if (parent) {
        folder->choice_ = parent->choice_;
    }
    return folder;
}

bool LinuxFolder::List(ListDetail detail, const EntryVisitor& visit) {
    if (!listing_) {
        listing_ = true;
        seen_.clear();
        seenNext_ = 0;
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

void LinuxFolder::StatBatch(int fd, ListDetail detail, std::span<const DirName> names,
                            std::span<StatRecord> records) const {
    // A walk needs nothing of a link, device, pipe or socket but that it is one: it counts no
    // bytes and is not entered. Its kind from the listing then stands for the statx, once a
    // statx in the folder has shown that its entries can be looked at (no search permission
    // makes every entry unreadable, these too).
    const bool walk = detail == ListDetail::kWalk;
    std::atomic<bool> searchable{false};
    const auto statRange = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (walk && names[i].type == DT_DIR) {
                // The walk opens it next and learns its mount then: no statx by name.
                records[i] = StatRecord{};
                records[i].name = names[i].name;
                records[i].dirType = DT_DIR;
                records[i].skipped = true;
                continue;
            }
            if (detail == ListDetail::kFolders && names[i].type != DT_DIR &&
                names[i].type != DT_LNK && names[i].type != DT_UNKNOWN) {
                // Known from the listing to be no folder: its name is all that is wanted.
                records[i] = StatRecord{};
                records[i].name = names[i].name;
                records[i].dirType = names[i].type;
                records[i].skipped = true;
                continue;
            }
            if (walk && ModeOfSpecial(names[i].type) != 0) {
                continue;  // after the others
            }
            StatEntry(fd, names[i], volume_,
                      detail == ListDetail::kSizesAndState || detail == ListDetail::kFolders,
                      records[i]);
            if (records[i].stated && !searchable.load(std::memory_order_relaxed)) {
                searchable.store(true, std::memory_order_relaxed);
            }
        }
    };
    const auto specials = [&] {
        for (std::size_t i = 0; walk && i < names.size(); ++i) {
            if (const std::uint32_t mode = ModeOfSpecial(names[i].type); mode != 0) {
                if (searchable.load(std::memory_order_relaxed)) {
                    records[i] = StatRecord{};
                    records[i].name = names[i].name;
                    records[i].dirType = names[i].type;
                    records[i].stated = true;
                    records[i].mode = mode;
                    records[i].where = volume_.where;
                } else {
                    StatEntry(fd, names[i], volume_, false, records[i]);
                    searchable.store(records[i].stated, std::memory_order_relaxed);
                }
            }
        }
    };
    // A large folder would keep one thread busy while the walk's others run out of work (a
    // flat folder of 18,000 manual pages is a tenth of /usr): its entries are stated on as
    // many threads as there are cores. Starting a thread costs about as much as 30 statx.
    constexpr std::size_t kEntriesPerThread = 512;
    static const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t parts = std::min(cores, names.size() / kEntriesPerThread);
    std::vector<std::jthread> helpers;
    std::size_t from = 0;
    for (std::size_t part = 1; part < parts; ++part) {
        const std::size_t to = names.size() * part / parts;
        try {
            helpers.push_back(StartProgramThread<std::jthread>("LinuxFolder", statRange, from, to));
        } catch (const std::system_error&) {
            break;  // no thread to spare: this one does the rest
        }
        from = to;
    }
    statRange(from, names.size());
    helpers.clear();  // joins them
    specials();
}

bool LinuxFolder::ListFrom(int fd, bool rewind, ListDetail detail, const EntryVisitor& visit) {
    DirReader reader(fd, rewind);
    std::vector<DirName> names;
    std::vector<StatRecord> records;
    MeasureScratch scratch;
    // Without CAP_SYS_ADMIN on btrfs the helper reads the folder's extents while this thread
    // reads its entries.
    MeasureHelper::Pending pending;
    if (volume_.kind == VolumeKind::kBtrfs && !volume_.extentSearch && volume_.measureHelper &&
        detail != ListDetail::kFolders) {
        pending = MeasureHelper::Instance().Begin(fd);
        scratch.pending = &pending;
    }
    bool first = true;
    while (reader.NextBatch(names)) {
        first = false;
        // The scratch folders of file rewrites are never part of the tree.
        std::erase_if(names, [fd](const DirName& name) { return IsScratchFolder(fd, name.name); });
        records.resize(names.size());
        StatBatch(fd, detail, names, records);
        MeasureBatch(fd, volume_, detail, records, scratch);
        for (const StatRecord& record : records) {
            if (record.vanished) {
                continue;
            }
            if (record.IsFolder() && fd == fd_.get()) {
                seen_.push_back({std::string(record.name), record.where});
            }
            if (!visit(ToEntry(record, volume_))) {
                return true;
            }
        }
    }
    return !(first && reader.Failed());
}

const MountIdentity* LinuxFolder::FindSeen(std::string_view name) {
    // Looks a little way ahead of the guess: a thread handed the later sub-folders starts far
    // from it and asks the kernel instead.
    constexpr std::size_t kLookAhead = 8;
    const std::size_t next = seenNext_.load(std::memory_order_relaxed);
    for (std::size_t i = next; i < seen_.size() && i < next + kLookAhead; ++i) {
        if (seen_[i].name == name) {
            seenNext_.store(i + 1, std::memory_order_relaxed);
            return &seen_[i].where;
        }
    }
    return nullptr;
}

std::unique_ptr<Folder> LinuxFolder::OpenSubfolder(std::string_view name) {
    const std::string path(name);
    // The listing's statx already told where the folder lies; the kernel is asked only for a
    // folder the last listing did not show.
    if (const MountIdentity* known = FindSeen(name)) {
        return Create(UniqueFd(::openat(fd_.get(), path.c_str(), kFolderFlags)), this, known);
    }
    // A walk leaves folders unstated: opening one without crossing a mount point tells that it
    // lies on this folder's mount, which spares a statx per folder. Only btrfs gives the
    // sub-volumes of one mount devices of their own, so there the device is still asked.
    if (volume_.kind != VolumeKind::kBtrfs) {
        UniqueFd fd(OpenOnSameMount(fd_.get(), path.c_str()));
        if (fd) {
            return Create(std::move(fd), this, &volume_.where);
        }
        if (errno != ENOSYS) {
            return nullptr;  // a mount point (EXDEV), gone, or not to be opened
        }
    }
    return Create(UniqueFd(::openat(fd_.get(), path.c_str(), kFolderFlags)), this, nullptr);
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
    if (!decompress && BelowThreshold(name)) {
        return true;
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
    const CompressionChoice method = choice_ ? *choice_ : CompressionChoice{};
    if (!SetBtrfsMark(file.get(), decompress, method)) {
        // EINVAL: the no-copy-on-write attribute, which excludes compression.
        return Fail(errno == EINVAL ? "marked no-copy-on-write (chattr +C), which btrfs does not "
                                      "compress"
                                    : ErrnoReason(errno));
    }
    if (!RewriteBtrfsFile(file.get(), decompress, method)) {
        return Fail(ErrnoReason(errno));
    }
    return true;
}

std::unique_ptr<FileReader> LinuxFolder::OpenFile(std::string_view name) {
    return OpenFileReader(fd_.get(), name);
}

// The threshold looks at the first 1 MiB of a file only, so that skipping costs little next
// to compressing.
bool LinuxFolder::BelowThreshold(std::string_view name) {
    if (!choice_ || choice_->minSavingPercent <= 0) {
        return false;
    }
    const ForecastRules rules =
        volume_.kind == VolumeKind::kNtfs3g ? ForecastRules::kNtfs : ForecastRules::kBtrfs;
    CompressionChoice method = *choice_;
    if (rules == ForecastRules::kNtfs) {
        method.algorithm = CompressionAlgorithm::kLznt1;
    }
    const std::unique_ptr<FileReader> reader = OpenFile(name);
    const std::unique_ptr<ChunkCompressor> compressor = MakeChunkCompressor(method);
    struct stat st;
    if (!reader || !compressor ||
        ::fstatat(fd_.get(), std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;  // the switch itself reports what is wrong
    }
    return LeaveAlone(name, *reader, st.st_size, rules, *choice_, *compressor);
}

}  // namespace packmeter::linuxfs

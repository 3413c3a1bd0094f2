#include "platform/linux/scan/ntfs3g_rewrite.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/scan/dir_reader.hpp"
#include "platform/linux/scan/failure_reason.hpp"
#include "platform/linux/scan/ntfs3g_attributes.hpp"
#include "platform/linux/scan/open_files.hpp"
#include "platform/linux/scan/scratch_folder.hpp"
#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

namespace {

constexpr const char* kDosName = "system.ntfs_dos_name";
constexpr const char* kTimes = "system.ntfs_times";
constexpr const char* kAcl = "system.ntfs_acl";
constexpr const char* kEa = "system.ntfs_ea";
constexpr const char* kAbandoned = "abandoned at the user's request; it stays as it was";

// NTFS compresses in units of 16 clusters of 4 KiB; all-zero units become holes.
constexpr std::size_t kUnit = 64 * 1024;
constexpr std::size_t kChunk = 16 * kUnit;

// An extended attribute of an open file: its value, nothing when absent, or a failure.
struct Xattr {
    bool failed = false;
    std::optional<std::string> value;
};

Xattr GetXattr(int fd, const char* name) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) {
            return {errno != ENODATA && errno != ENOTSUP, std::nullopt};
        }
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return {false, std::move(value)};
        }
        if (errno != ERANGE) {  // ERANGE: it grew meanwhile
            return {true, std::nullopt};
        }
    }
    return {true, std::nullopt};
}

bool SetXattr(int fd, const char* name, const std::optional<std::string>& value) {
    return !value || ::fsetxattr(fd, name, value->data(), value->size(), 0) == 0;
}

// The user.* attributes, through which ntfs-3g shows the named data streams.
bool ReadStreams(int fd, std::vector<std::pair<std::string, std::string>>& streams) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) {
        return errno == ENOTSUP;
    }
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got < 0) {
        return false;
    }
    names.resize(static_cast<std::size_t>(got));
    for (std::size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0) {
            continue;
        }
        Xattr value = GetXattr(fd, name.c_str());
        // E2BIG: a stream larger than the attribute interface carries; it cannot be copied.
        if (value.failed || !value.value) {
            return false;
        }
        streams.emplace_back(name, std::move(*value.value));
    }
    return true;
}

bool FullRead(int fd, char* buffer, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, buffer, size, offset);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got == 0) {
                errno = 0;  // shorter than it was
            }
            return false;
        }
        buffer += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

bool FullWrite(int fd, const char* buffer, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, buffer, size, offset);
        if (put <= 0) {
            if (put < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        buffer += put;
        size -= static_cast<std::size_t>(put);
        offset += put;
    }
    return true;
}

bool AllZero(const char* data, std::size_t size) {
    return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0);
}

// Copies `size` bytes; with `holes`, all-zero units are not written and stay holes. A sparse
// copy gets its full size first: on ntfs-3g an extending truncate is what makes a file sparse.
// `intact` is asked between chunks; the copy stops (false, errno 0) once it says no.
bool CopyData(int from, int to, std::uint64_t size, bool holes, bool sparse,
              const std::function<bool()>& intact) {
    if (sparse && ::ftruncate(to, static_cast<off_t>(size)) != 0) {
        return false;
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
    for (std::uint64_t offset = 0; offset < size; offset += kChunk) {
        if (!intact()) {
            errno = 0;
            return false;
        }
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - offset));
        if (!FullRead(from, buffer.get(), length, static_cast<off_t>(offset))) {
            return false;
        }
        // Write runs of units, leaving out the zero units when making holes.
        std::size_t runStart = 0;
        for (std::size_t at = 0; at < length; at += kUnit) {
            const std::size_t unit = std::min(kUnit, length - at);
            if (holes && AllZero(buffer.get() + at, unit)) {
                if (at > runStart && !FullWrite(to, buffer.get() + runStart, at - runStart,
                                                static_cast<off_t>(offset + runStart))) {
                    return false;
                }
                runStart = at + unit;
            }
        }
        if (length > runStart && !FullWrite(to, buffer.get() + runStart, length - runStart,
                                            static_cast<off_t>(offset + runStart))) {
            return false;
        }
    }
    return ::ftruncate(to, static_cast<off_t>(size)) == 0;
}

bool SameData(int a, int b, std::uint64_t size) {
    const auto left = std::make_unique_for_overwrite<char[]>(kChunk);
    const auto right = std::make_unique_for_overwrite<char[]>(kChunk);
    for (std::uint64_t offset = 0; offset < size; offset += kChunk) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - offset));
        if (!FullRead(a, left.get(), length, static_cast<off_t>(offset)) ||
            !FullRead(b, right.get(), length, static_cast<off_t>(offset)) ||
            std::memcmp(left.get(), right.get(), length) != 0) {
            return false;
        }
    }
    // Nothing may follow the compared bytes in either file.
    char extra;
    return ::pread(a, &extra, 1, static_cast<off_t>(size)) == 0 &&
           ::pread(b, &extra, 1, static_cast<off_t>(size)) == 0;
}

// Hard links other than the DOS name. Without posix_nlink ntfs-3g counts a file's DOS 8.3 name
// as a link of its own and reports 1 link for every folder (with it, folders have 2 or more).
nlink_t RealLinks(const struct stat& file, int dirFd, bool hasDosName) {
    struct stat folder;
    const bool dosCounted = hasDosName && ::fstat(dirFd, &folder) == 0 && folder.st_nlink == 1;
    return file.st_nlink - (dosCounted && file.st_nlink > 1 ? 1 : 0);
}

// The signal by which the kernel tells of a broken lease. The lease's state is read with
// F_GETLEASE, so the handler has nothing to do; it only keeps the default action (for SIGIO:
// ending the process) from happening.
int LeaseSignal() {
    static const int signal = [] {
        const int number = SIGRTMIN + 7;
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}

// A write lease on an open file: the kernel grants it only while no other process has the file
// open, and breaks it (F_GETLEASE no longer says F_WRLCK) as soon as any process opens it.
// A process that opens the file meanwhile waits in open() until the lease is given up, which
// happens when this object leaves scope.
class WriteLease {
  public:
    explicit WriteLease(int fd) : fd_(fd) {}
    WriteLease(const WriteLease&) = delete;
    WriteLease& operator=(const WriteLease&) = delete;
    ~WriteLease() {
        if (held_) {
            ::fcntl(fd_, F_SETLEASE, F_UNLCK);
        }
    }
    bool Take() {
        held_ =
            ::fcntl(fd_, F_SETSIG, LeaseSignal()) == 0 && ::fcntl(fd_, F_SETLEASE, F_WRLCK) == 0;
        return held_;
    }
    bool Intact() const { return held_ && ::fcntl(fd_, F_GETLEASE) == F_WRLCK; }

  private:
    int fd_;
    bool held_ = false;
};

// lowntfs-3g reports one link more for an open file that was renamed, until it is closed
// (measured: 1 link before the rename, 2 after it through the same descriptor, 1 again once
// closed); ntfs-3g does not. The inode number survives the rename on both. Measured here on a
// probe file in the scratch folder: the number of links the rename adds.
nlink_t ProbeRenameLinkQuirk(int scratchFd) {
    constexpr const char* kProbe = ScratchFolder::kProbe;
    constexpr const char* kProbed = ScratchFolder::kProbed;
    nlink_t extra = 0;
    {
        const UniqueFd probe(::openat(scratchFd, kProbe,
                                      O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        struct stat st;
        if (probe && ::renameat(scratchFd, kProbe, scratchFd, kProbed) == 0 &&
            ::fstat(probe.get(), &st) == 0 && st.st_nlink > 1) {
            extra = st.st_nlink - 1;
        }
    }  // closed before it is removed, or ntfs-3g would keep it under a hidden name
    ::unlinkat(scratchFd, kProbe, 0);
    ::unlinkat(scratchFd, kProbed, 0);
    return extra;
}

#ifndef STATX_MNT_ID_UNIQUE
#define STATX_MNT_ID_UNIQUE 0x00004000U
#endif

// The quirk is the driver's, so it is measured once per mount (told apart by the mount's unique
// id, which is never given to another mount; without it, once per file).
nlink_t RenameLinkQuirk(int scratchFd) {
    static std::mutex mutex;
    static std::map<std::uint64_t, nlink_t> byMount;
    struct statx stx {};
    const bool known = ::statx(scratchFd, "", AT_EMPTY_PATH, STATX_MNT_ID_UNIQUE, &stx) == 0 &&
                       (stx.stx_mask & STATX_MNT_ID_UNIQUE) != 0;
    if (known) {
        const std::lock_guard lock(mutex);
        if (const auto found = byMount.find(stx.stx_mnt_id); found != byMount.end()) {
            return found->second;
        }
    }
    const nlink_t extra = ProbeRenameLinkQuirk(scratchFd);
    if (known) {
        const std::lock_guard lock(mutex);
        byMount[stx.stx_mnt_id] = extra;
    }
    return extra;
}

// ntfs-3g (and lowntfs-3g) keep the last 64 inodes they used in memory. An inode whose times
// were set through system.ntfs_times (or ntfs_crtime) carries a mark there that makes the
// driver keep those times on disk and drop every later utimensat of any process (measured on
// 2022.10.3: a touch after such a set was gone after a remount, with no rewrite running). The
// mark goes when the inode leaves that cache, which reading the attribute word of 64 other
// inodes does (measured: 70 did, 40 did not). So the copy, whose times are set that way, is
// pushed out with 72 others before it gets its name: the file's neighbours, topped up with
// empty files made for it in the scratch folder when the folder has fewer.
void EvictFromInodeCache(int dirFd, const std::string& fileName, const ScratchFolder& scratch) {
    constexpr std::size_t kInodes = 72;  // the cache holds 64
    // The neighbours' names are listed once per folder: a listing on ntfs-3g reads the whole
    // folder, and the rewrites of a folder's files follow one another. A name gone since is
    // simply not counted.
    static std::mutex mutex;
    static std::pair<dev_t, ino_t> listedFolder{};
    static std::vector<std::string> listed;
    std::vector<std::string> neighbours;
    struct stat folder {};
    if (::fstat(dirFd, &folder) == 0) {
        const std::lock_guard lock(mutex);
        if (listedFolder != std::pair(folder.st_dev, folder.st_ino) || listed.size() < kInodes) {
            listed.clear();
            listedFolder = {folder.st_dev, folder.st_ino};
            const UniqueFd listing(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            DirReader reader(listing.get());
            std::vector<DirName> names;
            while (listing && listed.size() < kInodes + 2 && reader.NextBatch(names)) {
                for (std::size_t i = 0; i < names.size() && listed.size() < kInodes + 2; ++i) {
                    listed.emplace_back(names[i].name);
                }
            }
        }
        neighbours = listed;
    }
    std::size_t used = 0;
    const std::string folderPath = "/proc/self/fd/" + std::to_string(dirFd) + "/";
    for (const std::string& name : neighbours) {
        std::uint32_t attrib = 0;
        if (used < kInodes && name != fileName && name != scratch.Name() &&
            ::lgetxattr((folderPath + name).c_str(), "system.ntfs_attrib", &attrib, sizeof attrib) >
                0) {
            ++used;
        }
    }
    std::vector<std::string> made;
    for (std::size_t index = 0; used < kInodes && index < kInodes; ++index) {
        std::string name = ScratchFolder::kEvictPrefix + std::to_string(index);
        const UniqueFd fd(::openat(scratch.Fd(), name.c_str(),
                                   O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) {
            break;
        }
        made.push_back(std::move(name));
        ++used;
    }
    for (const std::string& name : made) {
        ::unlinkat(scratch.Fd(), name.c_str(), 0);
    }
}

std::atomic<const std::atomic<bool>*> abandonFlag{nullptr};

bool AbandonRequested() {
    const std::atomic<bool>* flag = abandonFlag.load();
    return flag && flag->load();
}

RewriteStepHook& StepHook() {
    static RewriteStepHook hook;
    return hook;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// How the copy takes the original's place, and why no other process's doing is lost:
//
//  1. The original is opened read-only and a write lease is taken on it. The lease is granted
//     only when no other process has the file open (nor mapped), so nobody can be writing to it
//     through an older descriptor; from then on any open by another process breaks the lease,
//     and the opener waits in open() until the lease is given up. Writing, appending and
//     truncating through a path all need an open, so they all break it. What needs no open (a
//     rename over the name, an unlink, a new hard link) is caught by the checks below.
//  2. The copy is written and checked against the original while the lease is checked between
//     chunks. Everything the copy must carry except the DOS name (streams, security, EAs, DOS
//     bits, times) is set on it now, so that whenever this process dies the name holds either
//     the original or a complete copy. The state file records what a later command needs to
//     finish or undo the switch.
//  3. The original is moved aside into the scratch folder with rename(). Its data is not
//     touched and it keeps a name throughout. If the name no longer led to the original (it
//     was renamed over or deleted meanwhile), what was moved is given its name back with
//     link(), which never replaces anything, and the switch is abandoned. If the original has
//     gained a hard link, or the lease is broken, it goes back the same way.
//  4. The copy is linked in under the name with link(). If a file appeared under the name in
//     the moment it was free, that file stays, and the original is kept beside it.
//  5. Only now, with the lease still unbroken and no new link, is the original dropped: nobody
//     opened it since step 1, so nobody holds it, and its only name is inside the scratch
//     folder. An opener that found the name before step 3 broke the lease and gets the
//     original back, as the copy is moved aside again and the original linked back.
//     Afterwards the DOS name (and the times that setting it touches) are given back.
//
// The one opening left is an opener that resolved the name before step 3 but reaches the lease
// check in open() only after step 5, a window of a few file-system calls. The lease is read
// once more after the original has gone and such a late opener is reported as a failure.
//
// Each step is one member function; a step returns true to go on, false once the rewrite has
// ended (result_ then holds its outcome and why_ the reason for a failure).
class NtfsRewrite {
  public:
    NtfsRewrite(int dirFd, std::string_view name, bool decompress, std::string& why)
        : dirFd_(dirFd), fileName_(name), decompress_(decompress), why_(why) {}
    NtfsRewrite(const NtfsRewrite&) = delete;
    NtfsRewrite& operator=(const NtfsRewrite&) = delete;
    // The pages this rewrite read through the long name are dropped while the leases still
    // hold: in ntfs-3g's default mode a write through the short name, which an opener waiting
    // for the lease may make next, does not reach them, and a reader of the long name would be
    // shown the file as it was before that write.
    ~NtfsRewrite() {
        if (source_) {
            ::posix_fadvise(source_.get(), 0, 0, POSIX_FADV_DONTNEED);
        }
    }

    bool Run() {
        if (GuardOriginal() && Hold(RewriteStep::kGuarded) && WriteCopy() &&
            Hold(RewriteStep::kCopied) && MoveOriginalAside() && Hold(RewriteStep::kMovedAside) &&
            LinkCopyIn() && Hold(RewriteStep::kLinkedIn)) {
            DropOriginal();
        }
        return result_;
    }

  private:
    bool GuardOriginal();      // step 1
    bool WriteCopy();          // step 2
    bool MoveOriginalAside();  // step 3
    bool LinkCopyIn();         // step 4
    bool DropOriginal();       // step 5

    bool Hold(RewriteStep step) {
        if (StepHook()) {
            StepHook()(step, [this] { return Guarded(); });
        }
        return true;
    }
    bool Fail(std::string reason) {
        why_ = std::move(reason);
        result_ = false;
        return false;
    }
    bool Succeed() {
        result_ = true;
        return false;
    }
    bool Opened() { return Fail("opened by another process during the switch"); }
    bool RestoreNames(ino_t inode);
    bool PutBack(const char* what, std::string reason);
    bool GuardShortName();
    bool Guarded() const { return lease_->Intact() && (!shortLease_ || shortLease_->Intact()); }
    std::string OriginalChange();
    nlink_t LinksWhenAside() const { return 1 + renameQuirk_; }

    const int dirFd_;
    const std::string fileName_;
    const bool decompress_;
    std::string& why_;
    bool result_ = false;

    // Declared first so that it goes last, once every descriptor of files in it is closed
    // (ntfs-3g keeps an unlinked file that is still open under a hidden name in its folder).
    std::optional<ScratchFolder> scratch_;
    UniqueFd source_;
    std::optional<WriteLease> lease_;       // given up before source_ is closed
    UniqueFd shortName_;                    // the same file opened by its DOS name
    std::optional<WriteLease> shortLease_;  // its lease, given up before it is closed
    UniqueFd copy_;
    nlink_t renameQuirk_ = 0;

    struct stat before_ {};
    struct stat copyStat_ {};
    std::uint32_t attrib_ = 0;
    bool sparse_ = false;
    Xattr dosName_, times_, acl_, ea_;
    std::vector<std::pair<std::string, std::string>> streams_;
};

// Step 1: open the original, refuse what cannot be rewritten, read what the copy must carry
// and take the write lease.
bool NtfsRewrite::GuardOriginal() {
    source_ = UniqueFd(::openat(dirFd_, fileName_.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!source_) {
        return Fail(ErrnoReason(errno));
    }
    if (::fstat(source_.get(), &before_) != 0) {
        return Fail(ErrnoReason(errno));
    }
    if (!S_ISREG(before_.st_mode)) {
        return Fail("not a regular file");
    }
    const std::optional<std::uint32_t> attrib = ReadNtfsAttrib(source_.get());
    if (!attrib) {
        return Fail("the NTFS attributes cannot be read");
    }
    attrib_ = *attrib;
    const bool compressed = (attrib_ & ntfs::kCompressed) != 0;
    sparse_ = (attrib_ & ntfs::kSparse) != 0;
    if (compressed != decompress_) {
        return Succeed();  // already as asked
    }
    if (sparse_) {
        return Fail("sparse files are left as they are on this volume");
    }
    if (attrib_ & ntfs::kReparsePoint) {
        return Fail("a reparse point");
    }
    if (attrib_ & ntfs::kEncrypted) {
        return Fail("encrypted");
    }
    dosName_ = GetXattr(source_.get(), kDosName);
    times_ = GetXattr(source_.get(), kTimes);
    acl_ = GetXattr(source_.get(), kAcl);
    ea_ = GetXattr(source_.get(), kEa);
    if (!ReadStreams(source_.get(), streams_)) {
        // ENODATA: the volume was mounted with streams_interface=windows or none, where ntfs-3g
        // does not list named streams as attributes, so they could not be carried over.
        return Fail(errno == ENODATA ? "its named streams cannot be copied on this mount "
                                       "(mounted without streams_interface=xattr)"
                                     : ErrnoReason(errno));
    }
    if (dosName_.failed || times_.failed || acl_.failed || ea_.failed) {
        return Fail(ErrnoReason(errno));
    }
    const nlink_t links = RealLinks(before_, dirFd_, dosName_.value.has_value());
    if (links > 1) {
        return Fail("has " + std::to_string(links) + " hard links");
    }

    lease_.emplace(source_.get());
    if (!lease_->Take()) {
        if (errno != EAGAIN && errno != EBUSY) {
            return Fail("cannot be guarded against other processes: " + ErrnoReason(errno));
        }
        const std::string holder = FindHolder(before_.st_dev, before_.st_ino, source_.get());
        return Fail("in use by " + (holder.empty() ? std::string("another process") : holder));
    }
    return GuardShortName();
}

// In ntfs-3g's default mode the DOS 8.3 name of a file is a kernel inode of its own: an open by
// that name does not break the lease on the long name, and pages the kernel cached for the long
// name do not see writes made through the short one. So the short name gets a lease of its own,
// and the long name's cached pages are dropped before the copy reads them. (lowntfs-3g and
// posix_nlink show both names as one inode; the second lease is then refused as the file is
// open already, which is harmless: the first one covers it.)
bool NtfsRewrite::GuardShortName() {
    ::posix_fadvise(source_.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (!dosName_.value || *dosName_.value == fileName_) {
        return true;
    }
    shortName_ = UniqueFd(::openat(dirFd_, dosName_.value->c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!lease_->Intact()) {
        // This open broke the lease (and, being non-blocking, failed with EWOULDBLOCK): both
        // names are one kernel inode (lowntfs-3g, posix_nlink), and the long name's lease guards
        // both. It is taken again; an open by another process meanwhile makes that fail (the
        // file is refused as in use), and a change it made is seen by the checks before the
        // switch, as nothing has been read yet.
        shortName_.reset();
        lease_.reset();
        lease_.emplace(source_.get());
        return lease_->Take() || Fail("in use by another process");
    }
    struct stat st;
    if (!shortName_ || ::fstat(shortName_.get(), &st) != 0 || st.st_ino != before_.st_ino) {
        shortName_.reset();
        return true;  // not reachable by its short name
    }
    // Two kernel inodes: the short name needs its own lease.
    ::posix_fadvise(shortName_.get(), 0, 0, POSIX_FADV_DONTNEED);
    shortLease_.emplace(shortName_.get());
    if (!shortLease_->Take()) {
        shortLease_.reset();
        return Fail("in use by another process through its short name " + *dosName_.value);
    }
    return true;
}

// What changed in the original since step 1, or nothing. The data is guarded by the lease;
// streams, DOS bits and times can be set without an open, so they are read again. The DOS name
// is not: moving the original aside drops it.
std::string NtfsRewrite::OriginalChange() {
    struct stat now;
    if (::fstat(source_.get(), &now) != 0 || now.st_size != before_.st_size ||
        !SameTime(now.st_mtim, before_.st_mtim)) {
        return "changed by another process during the switch";
    }
    // Creation and last write time; the access time, which reading changes, is left out.
    constexpr std::size_t kCompared = 16;
    const Xattr times = GetXattr(source_.get(), kTimes);
    if (times.failed || times.value.has_value() != times_.value.has_value() ||
        (times.value && times.value->substr(0, kCompared) != times_.value->substr(0, kCompared))) {
        return "its times were changed by another process during the switch";
    }
    const std::optional<std::uint32_t> attrib = ReadNtfsAttrib(source_.get());
    if (attrib != attrib_) {
        return "its DOS attributes were changed by another process during the switch";
    }
    std::vector<std::pair<std::string, std::string>> streams;
    if (!ReadStreams(source_.get(), streams) || streams != streams_) {
        return "its named streams were changed by another process during the switch";
    }
    return {};
}

// Step 2: the copy in the scratch folder, with everything but the DOS name, checked against
// the original.
bool NtfsRewrite::WriteCopy() {
    scratch_.emplace(dirFd_);
    if (!*scratch_) {
        return Fail(ErrnoReason(errno));
    }
    const std::uint32_t folderBits = ntfs::kDirectory | (decompress_ ? 0 : ntfs::kCompressed);
    if (!WriteNtfsAttrib(scratch_->Fd(), folderBits) ||
        ReadNtfsAttrib(scratch_->Fd()) != folderBits) {
        return Fail("compression cannot be switched on this volume");
    }
    renameQuirk_ = RenameLinkQuirk(scratch_->Fd());
    copy_ = UniqueFd(::openat(scratch_->Fd(), ScratchFolder::kCopy,
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              before_.st_mode & 07777));
    if (!copy_ || ::fstat(copy_.get(), &copyStat_) != 0) {
        return Fail(ErrnoReason(errno));
    }
    // The copy must have inherited the wanted bit; it does not where compression is off
    // (mount option nocompression, clusters over 4 KiB).
    const std::optional<std::uint32_t> born = ReadNtfsAttrib(copy_.get());
    if (!born || ((*born & ntfs::kCompressed) != 0) == decompress_) {
        return Fail("not supported: compression is off on this volume");
    }
    if (!scratch_->WriteState({fileName_, dosName_.value, times_.value,
                               static_cast<unsigned long long>(copyStat_.st_ino)})) {
        return Fail(ErrnoReason(errno));
    }

    // Zero units become holes when compressing (NTFS keeps them so inside compressed files)
    // and in sparse files; a plain file stays fully allocated.
    const bool holes = !decompress_ || sparse_;
    if (!CopyData(source_.get(), copy_.get(), static_cast<std::uint64_t>(before_.st_size), holes,
                  sparse_, [&] { return Guarded() && !AbandonRequested(); })) {
        if (AbandonRequested()) {
            return Fail(kAbandoned);
        }
        return Guarded() ? Fail(ErrnoReason(errno)) : Opened();
    }
    for (const auto& [streamName, value] : streams_) {
        if (::fsetxattr(copy_.get(), streamName.c_str(), value.data(), value.size(), 0) != 0) {
            return Fail(ErrnoReason(errno));
        }
    }
    if (!SetXattr(copy_.get(), kAcl, acl_.value) || !SetXattr(copy_.get(), kEa, ea_.value)) {
        return Fail(ErrnoReason(errno));
    }
    // The DOS bits other than compressed and sparse, then the times, which the other steps
    // would touch.
    const std::uint32_t keep = ntfs::kCompressed | ntfs::kSparse;
    const std::optional<std::uint32_t> now = ReadNtfsAttrib(copy_.get());
    const std::uint32_t wanted = now ? (attrib_ & ~keep) | (*now & keep) : 0;
    if (!now || (*now != wanted && !WriteNtfsAttrib(copy_.get(), wanted)) ||
        !SetXattr(copy_.get(), kTimes, times_.value) || ::fsync(copy_.get()) != 0) {
        return Fail(ErrnoReason(errno));
    }
    // The original must not have changed while it was copied, and the copy must match it.
    if (!Guarded()) {
        return Opened();
    }
    if (const std::string change = OriginalChange(); !change.empty()) {
        return Fail(change);
    }
    if (!SameData(source_.get(), copy_.get(), static_cast<std::uint64_t>(before_.st_size))) {
        return Fail("changed by another process during the switch");
    }
    if (ReadNtfsAttrib(copy_.get()) != wanted) {
        return Fail("the attributes cannot be carried over");
    }
    // Closed before it gets the name: ntfs-3g writes the times an open file had when it was
    // opened back on close, over a time another process set through the name meanwhile; and a
    // file that is open when it loses a name is kept under a hidden name instead. Then out of
    // the driver's memory, or a later touch of the file would not last.
    copy_.reset();
    EvictFromInodeCache(dirFd_, fileName_, *scratch_);
    return true;
}

// ntfs-3g reaches a file through the name it was found by, so the DOS name is given back
// through the file's name now, once it is known to be `inode`. The name is held by an O_PATH
// descriptor, which is no open: it does not break this rewrite's own lease, which must stay
// until the DOS name is back (an opener of the short name waits for it). Setting the DOS name
// changes only the file's change time (measured), so no other time is set: a time set through
// system.ntfs_times would make the driver drop later touches (see EvictFromInodeCache).
bool NtfsRewrite::RestoreNames(ino_t inode) {
    if (!dosName_.value) {
        return true;
    }
    const UniqueFd named(::openat(dirFd_, fileName_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!named || ::fstat(named.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != inode) {
        return false;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(named.get());
    return ::setxattr(path.c_str(), kDosName, dosName_.value->data(), dosName_.value->size(), 0) ==
           0;
}

// Gives `what` of the scratch folder its name back and ends the rewrite with `reason`.
bool NtfsRewrite::PutBack(const char* what, std::string reason) {
    const std::optional<std::string> kept = LinkBack(scratch_->Fd(), what, dirFd_, fileName_);
    if (!kept) {
        reason += "; the original is kept in " + scratch_->Name();
    } else if (*kept != fileName_) {
        reason += "; the original is kept as " + *kept;
    } else if (what == std::string_view(ScratchFolder::kOriginal)) {
        // Back under its name, which dropped its DOS name: give that back.
        RestoreNames(before_.st_ino);
        ::fsync(dirFd_);
    }
    return Fail(std::move(reason));
}

// Step 3: the original aside.
bool NtfsRewrite::MoveOriginalAside() {
    if (AbandonRequested()) {
        return Fail(kAbandoned);
    }
    // An opener waiting since the check of the copy gets the file as it was, under its names.
    if (!Guarded()) {
        return Opened();
    }
    if (::renameat(dirFd_, fileName_.c_str(), scratch_->Fd(), ScratchFolder::kOriginal) != 0) {
        return Fail(errno == ENOENT ? "moved or deleted by another process during the switch"
                                    : ErrnoReason(errno));
    }
    struct stat aside;
    if (::fstatat(scratch_->Fd(), ScratchFolder::kOriginal, &aside, AT_SYMLINK_NOFOLLOW) != 0) {
        return Fail(ErrnoReason(errno));
    }
    if (aside.st_dev != before_.st_dev || aside.st_ino != before_.st_ino) {
        // Another file had taken the name: it goes back, the original is not ours to touch.
        const std::optional<std::string> back =
            LinkBack(scratch_->Fd(), ScratchFolder::kOriginal, dirFd_, fileName_);
        return Fail(std::string("replaced by another file during the switch") +
                    (back ? "" : "; that file is kept in " + scratch_->Name()));
    }
    // The name is absent until step 4 links the copy in: everything else is checked after it.
    return true;
}

// Step 4: the copy under the name, never over anything.
bool NtfsRewrite::LinkCopyIn() {
    if (::linkat(scratch_->Fd(), ScratchFolder::kCopy, dirFd_, fileName_.c_str(), 0) != 0) {
        return PutBack(
            ScratchFolder::kOriginal,
            errno == EEXIST ? "another file took the name during the switch" : ErrnoReason(errno));
    }
    return true;
}

// Step 5: drop the original only while nobody has opened or linked it, then give the copy its
// DOS name and times.
bool NtfsRewrite::DropOriginal() {
    // Moving it aside dropped the DOS name, which ntfs-3g counts as a link without posix_nlink.
    struct stat after;
    std::string reason;
    if (!Guarded()) {
        reason = "opened by another process during the switch";
    } else if (::fstat(source_.get(), &after) != 0 || after.st_nlink > LinksWhenAside()) {
        reason = "linked to another name during the switch";
    } else {
        reason = OriginalChange();
    }
    if (!reason.empty()) {
        // Undo step 4: the copy moves aside again, and whatever was under the name by then
        // stays if it is not the copy.
        if (::renameat(dirFd_, fileName_.c_str(), scratch_->Fd(), ScratchFolder::kReplaced) == 0) {
            struct stat moved;
            if (::fstatat(scratch_->Fd(), ScratchFolder::kReplaced, &moved, AT_SYMLINK_NOFOLLOW) ==
                    0 &&
                moved.st_ino == copyStat_.st_ino) {
                ::unlinkat(scratch_->Fd(), ScratchFolder::kReplaced, 0);
            } else {
                LinkBack(scratch_->Fd(), ScratchFolder::kReplaced, dirFd_, fileName_);
            }
        }
        return PutBack(ScratchFolder::kOriginal, reason);
    }
    if (::unlinkat(scratch_->Fd(), ScratchFolder::kOriginal, 0) != 0 ||
        ::unlinkat(scratch_->Fd(), ScratchFolder::kCopy, 0) != 0) {
        return Fail(ErrnoReason(errno));
    }
    Hold(RewriteStep::kDropped);
    const bool lateOpener = !Guarded();
    // The copy now has its one name. Give it back the DOS name; one fsync makes all of the
    // switch lasting, as ntfs-3g syncs the whole volume on any fsync.
    const bool restored = RestoreNames(copyStat_.st_ino) && ::fsync(dirFd_) == 0;
    if (lateOpener) {
        return Fail("opened by another process at the moment of the switch");
    }
    struct stat named;
    if (::fstatat(dirFd_, fileName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_ino != copyStat_.st_ino) {
        return Fail("replaced, moved or deleted by another process as the switch ended");
    }
    if (!restored && named.st_nlink > 1 + (dosName_.value ? 1 : 0)) {
        return Fail(
            "linked to another name by another process as the switch ended, so its DOS "
            "name cannot be given back");
    }
    const std::optional<std::uint32_t> final = ReadNtfsAttribAt(dirFd_, fileName_);
    if (!restored || !final || ((*final & ntfs::kCompressed) != 0) == decompress_) {
        return Fail("the DOS name or times cannot be given back");
    }
    return Succeed();
}

}  // namespace

bool RewriteNtfsFile(int dirFd, std::string_view name, bool decompress, std::string& why) {
    return NtfsRewrite(dirFd, name, decompress, why).Run();
}

void SetRewriteAbandonFlag(const std::atomic<bool>* flag) {
    abandonFlag.store(flag);
}

void SetRewriteStepHook(RewriteStepHook hook) {
    StepHook() = std::move(hook);
}

}  // namespace packmeter::linuxfs

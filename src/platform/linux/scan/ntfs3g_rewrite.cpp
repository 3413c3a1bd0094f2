#include "platform/linux/scan/ntfs3g_rewrite.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/scan/ntfs3g_attributes.hpp"
#include "platform/linux/scan/open_files.hpp"
#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

namespace {

constexpr const char* kDosName = "system.ntfs_dos_name";
constexpr const char* kTimes = "system.ntfs_times";
constexpr const char* kAcl = "system.ntfs_acl";
constexpr const char* kEa = "system.ntfs_ea";
constexpr const char* kDataName = "data";

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

// Copies `size` bytes; with `holes`, all-zero units are not written and stay holes.
bool CopyData(int from, int to, std::uint64_t size, bool holes) {
    const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
    for (std::uint64_t offset = 0; offset < size; offset += kChunk) {
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

// A folder beside the file that carries the wanted compressed bit, so that the copy made in it
// is born compressed (or plain). Removed, with a copy left inside, when it goes out of scope.
class ScratchFolder {
  public:
    ScratchFolder(int parentFd, bool compressed) : parentFd_(parentFd) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
            name_ = ".packmeter-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
            if (::mkdirat(parentFd_, name_.c_str(), 0700) != 0) {
                if (errno == EEXIST) {
                    continue;
                }
                break;
            }
            made_ = true;
            fd_ = UniqueFd(::openat(parentFd_, name_.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        const std::uint32_t wanted = ntfs::kDirectory | (compressed ? ntfs::kCompressed : 0);
        ready_ =
            fd_ && (ReadNtfsAttrib(fd_.get()) == wanted ||
                    (WriteNtfsAttrib(fd_.get(), wanted) && ReadNtfsAttrib(fd_.get()) == wanted));
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        if (fd_) {
            ::unlinkat(fd_.get(), kDataName, 0);
            fd_.reset();
        }
        if (made_) {
            ::unlinkat(parentFd_, name_.c_str(), AT_REMOVEDIR);
        }
    }

    bool Ready() const { return ready_; }
    int Fd() const { return fd_.get(); }

  private:
    int parentFd_;
    std::string name_;
    UniqueFd fd_;
    bool made_ = false;
    bool ready_ = false;
};

// Hard links other than the DOS name. Without posix_nlink ntfs-3g counts a file's DOS 8.3 name
// as a link of its own and reports 1 link for every folder (with it, folders have 2 or more).
nlink_t RealLinks(const struct stat& file, int dirFd, bool hasDosName) {
    struct stat folder;
    const bool dosCounted = hasDosName && ::fstat(dirFd, &folder) == 0 && folder.st_nlink == 1;
    return file.st_nlink - (dosCounted && file.st_nlink > 1 ? 1 : 0);
}

}  // namespace

bool RewriteNtfsFile(int dirFd, std::string_view name, bool decompress) {
    const std::string fileName(name);
    const UniqueFd source(::openat(dirFd, fileName.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat before;
    if (!source || ::fstat(source.get(), &before) != 0 || !S_ISREG(before.st_mode)) {
        return false;
    }
    const std::optional<std::uint32_t> attrib = ReadNtfsAttrib(source.get());
    if (!attrib) {
        return false;
    }
    if (((*attrib & ntfs::kCompressed) != 0) != decompress) {
        return true;  // already as asked
    }
    if (*attrib & (ntfs::kReparsePoint | ntfs::kEncrypted)) {
        return false;
    }
    const Xattr dosName = GetXattr(source.get(), kDosName);
    const Xattr times = GetXattr(source.get(), kTimes);
    const Xattr acl = GetXattr(source.get(), kAcl);
    const Xattr ea = GetXattr(source.get(), kEa);
    std::vector<std::pair<std::string, std::string>> streams;
    if (dosName.failed || times.failed || acl.failed || ea.failed ||
        !ReadStreams(source.get(), streams)) {
        return false;
    }
    if (RealLinks(before, dirFd, dosName.value.has_value()) > 1 ||
        OpenByAnyProcess(before.st_dev, before.st_ino, source.get())) {
        return false;
    }

    ScratchFolder scratch(dirFd, !decompress);
    if (!scratch.Ready()) {
        return false;
    }
    const UniqueFd copy(::openat(scratch.Fd(), kDataName,
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 before.st_mode & 07777));
    // The copy must have inherited the wanted bit; it does not where compression is off
    // (mount option nocompression, clusters over 4 KiB).
    const std::optional<std::uint32_t> born = copy ? ReadNtfsAttrib(copy.get()) : std::nullopt;
    if (!born || ((*born & ntfs::kCompressed) != 0) == decompress) {
        return false;
    }
    // Zero units become holes when compressing (NTFS keeps them so inside compressed files)
    // and in files that were sparse already; a plain file stays fully allocated.
    const bool holes = !decompress || (*attrib & ntfs::kSparse) != 0;
    if (!CopyData(source.get(), copy.get(), static_cast<std::uint64_t>(before.st_size), holes)) {
        return false;
    }
    for (const auto& [streamName, value] : streams) {
        if (::fsetxattr(copy.get(), streamName.c_str(), value.data(), value.size(), 0) != 0) {
            return false;
        }
    }
    if (!SetXattr(copy.get(), kAcl, acl.value) || !SetXattr(copy.get(), kEa, ea.value) ||
        ::fsync(copy.get()) != 0) {
        return false;
    }
    // The original must not have changed while it was copied, and the copy must match it.
    struct stat after;
    if (::fstat(source.get(), &after) != 0 || after.st_size != before.st_size ||
        after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
        !SameData(source.get(), copy.get(), static_cast<std::uint64_t>(before.st_size))) {
        return false;
    }
    if (::renameat(scratch.Fd(), kDataName, dirFd, fileName.c_str()) != 0) {
        return false;
    }
    // The copy now carries the name. Give it back what the rename could not carry over: the
    // DOS name first (setting it updates the times), then the times, then the DOS bits.
    bool restored = SetXattr(copy.get(), kDosName, dosName.value);
    restored = SetXattr(copy.get(), kTimes, times.value) && restored;
    const std::optional<std::uint32_t> now = ReadNtfsAttrib(copy.get());
    const std::uint32_t keep = ntfs::kCompressed | ntfs::kSparse;
    restored = now && restored;
    if (now && (*attrib & ~keep) != (*now & ~keep)) {
        restored = WriteNtfsAttrib(copy.get(), (*attrib & ~keep) | (*now & keep)) && restored;
    }
    restored = ::fsync(copy.get()) == 0 && ::fsync(dirFd) == 0 && restored;
    const std::optional<std::uint32_t> final = ReadNtfsAttrib(copy.get());
    return restored && final && ((*final & ntfs::kCompressed) != 0) != decompress;
}

}  // namespace packmeter::linuxfs

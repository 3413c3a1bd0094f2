#include "platform/linux/scan/file_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

namespace {

// Pages read are dropped from the cache behind the reader once this many bytes have passed,
// so that a forecast of a large tree does not push the user's working set out of memory.
constexpr off_t kDropEvery = 8 * 1024 * 1024;

class LinuxFileReader final : public FileReader {
  public:
    explicit LinuxFileReader(UniqueFd fd) : fd_(std::move(fd)) {
        ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    ~LinuxFileReader() override {
        if (!keep_) {
            Drop(end_);
        }
    }
    LinuxFileReader(const LinuxFileReader&) = delete;
    LinuxFileReader& operator=(const LinuxFileReader&) = delete;

    std::int64_t Read(std::int64_t offset, std::uint8_t* buffer, std::int64_t size) override {
        if (first_) {
            first_ = false;
            // A file whose start is in the cache already is likely in use: its pages stay.
            iovec span{buffer, static_cast<size_t>(size)};
            const ssize_t n = ::preadv2(fd_.get(), &span, 1, offset, RWF_NOWAIT);
            if (n == size) {
                keep_ = true;
                return n;
            }
        }
        for (;;) {
            const ssize_t n = ::pread(fd_.get(), buffer, static_cast<size_t>(size), offset);
            if (n >= 0) {
                end_ = std::max<off_t>(end_, offset + n);
                if (!keep_ && end_ - dropped_ >= kDropEvery) {
                    Drop(end_);
                }
                return n;
            }
            if (errno != EINTR) {
                return -1;
            }
        }
    }

    // SEEK_DATA and SEEK_HOLE find the holes of sparse files on btrfs; where the file system
    // does not know (ntfs-3g reports one run of data up to the end), the data is read whole.
    std::int64_t NextData(std::int64_t offset) override {
        const off_t at = ::lseek(fd_.get(), offset, SEEK_DATA);
        if (at >= 0) {
            return at;
        }
        return errno == ENXIO ? Size() : offset;
    }
    std::int64_t NextHole(std::int64_t offset) override {
        const off_t at = ::lseek(fd_.get(), offset, SEEK_HOLE);
        return at >= 0 ? at : Size();
    }

    // ntfs-3g shows the NTFS attribute word, SPARSE (0x200) among them, as an extended attribute.
    bool Sparse() override {
        std::uint32_t attributes = 0;
        return ::fgetxattr(fd_.get(), "system.ntfs_attrib", &attributes, sizeof attributes) ==
                   static_cast<ssize_t>(sizeof attributes) &&
               (attributes & 0x200) != 0;
    }

  private:
    std::int64_t Size() const {
        struct stat st;
        return ::fstat(fd_.get(), &st) == 0 ? st.st_size : 0;
    }
    // Pages of the range that another process had cached are dropped too; the kernel keeps
    // pages that are mapped or dirty.
    void Drop(off_t upTo) {
        if (upTo > dropped_) {
            ::posix_fadvise(fd_.get(), dropped_, upTo - dropped_, POSIX_FADV_DONTNEED);
            dropped_ = upTo;
        }
    }

    UniqueFd fd_;
    off_t end_ = 0;
    off_t dropped_ = 0;
    bool first_ = true;
    bool keep_ = false;
};

}  // namespace

std::unique_ptr<FileReader> OpenFileReader(int dirFd, std::string_view name) {
    UniqueFd fd(::openat(dirFd, std::string(name).c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOATIME));
    if (!fd && errno == EPERM) {
        // O_NOATIME is for the file's owner (or a privileged process) only.
        fd.reset(::openat(dirFd, std::string(name).c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    }
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return nullptr;
    }
    return std::make_unique<LinuxFileReader>(std::move(fd));
}

}  // namespace packmeter::linuxfs

// packmeter-measure: the measuring helper. Started as root through pkexec with a Unix socket as
// standard input, it tells the program that started it the on-disk bytes of files on btrfs,
// which only CAP_SYS_ADMIN may read from the extent tree. It learns no more than the caller
// could see itself: the caller hands over folders it opened (never paths), the helper reopens
// each with the caller's own file-system identity (so searching it needs the caller's own
// permission) and answers only for regular files listed in it. It reads only: one tree search
// ioctl, no file opened by name, no environment, no other program. It exits when the socket
// closes or after a minute without a request.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/capability.h>
#include <sys/fsuid.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>
#include <vector>

#include "platform/linux/scan/btrfs_extents.hpp"
#include "platform/linux/scan/measure_protocol.hpp"
#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs::measure {
namespace {

constexpr unsigned long kBtrfsMagic = 0x9123683E;
constexpr int kIdleSeconds = 60;
constexpr int kSocket = 0;
// Descriptors received but not yet used by a request; more means a client gone astray.
constexpr std::size_t kMaxQueuedDescriptors = 64;
constexpr int kMaxGroups = 1024;

// Exit codes: 0 the socket closed or stayed idle; 2 started wrongly; 3 a protocol error.
constexpr int kExitStartup = 2;
constexpr int kExitProtocol = 3;

bool SendAll(const std::vector<std::byte>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(kSocket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Takes on the file-system identity of the process at the other end of the socket (its uid,
// gid and groups), so that every permission check of a path lookup is the caller's, and keeps
// of root's powers only CAP_SYS_ADMIN, which the tree search needs.
bool BecomeCaller() {
    int type = 0;
    int domain = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(kSocket, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
        return false;
    }
    length = sizeof domain;
    if (::getsockopt(kSocket, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_UNIX) {
        return false;
    }
    ucred peer{};
    length = sizeof peer;
    if (::getsockopt(kSocket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return false;
    }
    // pkexec names the user who started it; the socket's other end must be that user's, so
    // that nobody can point the helper at another user's connection.
    if (const char* starter = std::getenv("PKEXEC_UID")) {
        const std::string_view text(starter);
        uid_t uid = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), uid);
        if (ec != std::errc() || end != text.data() + text.size() || uid != peer.uid) {
            return false;
        }
    }
    ::clearenv();
    std::vector<gid_t> groups(kMaxGroups);
    length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(kSocket, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) != 0) {
        return false;
    }
    groups.resize(length / sizeof(gid_t));
    if (::setgroups(groups.size(), groups.data()) != 0) {
        return false;
    }
    ::setfsgid(peer.gid);
    ::setfsuid(peer.uid);
    if (static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) != peer.uid ||
        static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) != peer.gid) {
        return false;
    }
    cap_t caps = ::cap_init();
    if (caps == nullptr) {
        return false;
    }
    const cap_value_t keep[] = {CAP_SYS_ADMIN};
    const bool dropped = ::cap_set_flag(caps, CAP_PERMITTED, 1, keep, CAP_SET) == 0 &&
                         ::cap_set_flag(caps, CAP_EFFECTIVE, 1, keep, CAP_SET) == 0 &&
                         ::cap_set_proc(caps) == 0;
    ::cap_free(caps);
    return dropped && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

// The regular files of the folder last listed, by inode number, and what identified it then.
class FolderEntries {
  public:
    // Whether every one of `inodes` is a regular file listed in the folder open at `fd`.
    bool Contains(int fd, std::span<const std::uint64_t> inodes) {
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            return false;
        }
        const bool same =
            listed_ && st.st_dev == dev_ && st.st_ino == ino_ &&
            st.st_mtim.tv_sec == mtime_.tv_sec && st.st_mtim.tv_nsec == mtime_.tv_nsec &&
            st.st_ctim.tv_sec == ctime_.tv_sec && st.st_ctim.tv_nsec == ctime_.tv_nsec;
        if (!(same && Covers(inodes))) {
            if (!List(fd)) {
                return false;
            }
            dev_ = st.st_dev;
            ino_ = st.st_ino;
            mtime_ = st.st_mtim;
            ctime_ = st.st_ctim;
            listed_ = true;
        }
        return Covers(inodes);
    }

    // Every regular file the folder open at `fd` lists, ascending; empty when it cannot be read.
    const std::vector<std::uint64_t>& Files(int fd) {
        if (!List(fd)) {
            files_.clear();
        }
        listed_ = false;  // not kept: the next request lists again
        return files_;
    }

  private:
    bool Covers(std::span<const std::uint64_t> inodes) const {
        // Both ascending: one merge pass.
        std::size_t at = 0;
        for (const std::uint64_t inode : inodes) {
            while (at < files_.size() && files_[at] < inode) {
                ++at;
            }
            if (at == files_.size() || files_[at] != inode) {
                return false;
            }
        }
        return true;
    }

    bool List(int fd) {
        files_.clear();
        listed_ = false;
        buffer_.resize(kListingBytes);
        for (;;) {
            const long n = ::getdents64(fd, buffer_.data(), buffer_.size());
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                break;
            }
            const auto& buffer = buffer_;
            for (long at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + at);
                if (entry->d_type == DT_REG) {
                    files_.push_back(entry->d_ino);
                }
                at += entry->d_reclen;
            }
            // Room left for the largest entry: the kernel stopped at the end of the folder, so
            // asking again would only return nothing.
            if (static_cast<std::size_t>(n) + kLargestEntry <= buffer_.size()) {
                break;
            }
        }
        std::sort(files_.begin(), files_.end());
        return true;
    }

    static constexpr std::size_t kListingBytes = 64 * 1024;
    static constexpr std::size_t kLargestEntry = sizeof(dirent64) + 256;

    std::vector<char> buffer_;
    std::vector<std::uint64_t> files_;
    bool listed_ = false;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    timespec mtime_{};
    timespec ctime_{};
};

// The folder handed over, opened again as the caller, after the checks every request passes:
// a folder opened for reading (not O_PATH), on btrfs, that the caller may read and search.
Status OpenAsCaller(const UniqueFd& handed, UniqueFd& own) {
    if (!handed) {
        return Status::kNoDescriptor;
    }
    const int flags = ::fcntl(handed.get(), F_GETFL);
    struct stat st;
    if (flags < 0 || (flags & O_PATH) != 0 || (flags & O_ACCMODE) == O_WRONLY ||
        ::fstat(handed.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Status::kBadDescriptor;
    }
    struct statfs fs;
    if (::fstatfs(handed.get(), &fs) != 0 || static_cast<unsigned long>(fs.f_type) != kBtrfsMagic) {
        return Status::kNotBtrfs;
    }
    // Opening the folder again, as the caller, needs the caller's read and search permission
    // on it, and gives the listing an offset of its own.
    own.reset(::openat(handed.get(), ".", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return own ? Status::kOk : Status::kNotPermitted;
}

Status Measure(const UniqueFd& handed, const Request& request, FolderEntries& entries,
               std::vector<std::uint64_t>& files, std::vector<FileExtentUsage>& usage) {
    UniqueFd own;
    if (const Status status = OpenAsCaller(handed, own); status != Status::kOk) {
        return status;
    }
    if (request.kind == Kind::kMeasureFolder) {
        files = entries.Files(own.get());
    } else if (!entries.Contains(own.get(), request.inodes)) {
        return Status::kNotAnEntry;
    } else {
        files = request.inodes;
    }
    usage.resize(files.size());
    return SearchFileExtents(own.get(), files, usage) == ExtentSearch::kDone
               ? Status::kOk
               : Status::kSearchFailed;
}

int Serve() {
    const timeval idle{kIdleSeconds, 0};
    if (::setsockopt(kSocket, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle) != 0) {
        return kExitStartup;
    }
    std::vector<std::byte> pending;
    std::deque<UniqueFd> descriptors;
    std::vector<std::byte> chunk(256 * 1024);
    Request request;
    FolderEntries entries;
    std::vector<std::uint64_t> files;
    std::vector<FileExtentUsage> usage;
    for (;;) {
        // Answer every complete request received so far.
        for (;;) {
            const ParseResult parsed = ParseRequest(pending, request);
            if (parsed.outcome == ParseResult::Outcome::kNeedMore) {
                break;
            }
            if (parsed.outcome == ParseResult::Outcome::kRefused) {
                if (!SendAll(EncodeReply(parsed.status, {}))) {
                    return kExitProtocol;
                }
                if (parsed.fatal) {
                    return kExitProtocol;
                }
            } else if (request.kind == Kind::kHello) {
                if (!SendAll(EncodeReply(Status::kOk, {}))) {
                    return 0;
                }
            } else {
                UniqueFd handed;
                if (!descriptors.empty()) {
                    handed = std::move(descriptors.front());
                    descriptors.pop_front();
                }
                const Status status = Measure(handed, request, entries, files, usage);
                const bool folder = request.kind == Kind::kMeasureFolder;
                if (!SendAll(EncodeReply(status, usage,
                                         folder ? std::span(files) : std::span<std::uint64_t>()))) {
                    return 0;
                }
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<long>(parsed.consumed));
        }
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 16)];
        iovec part{chunk.data(), chunk.size()};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        // The socket's receive timeout ends an idle helper (EAGAIN).
        const ssize_t n = ::recvmsg(kSocket, &message, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t i = 0; i < count; ++i) {
                    int fd;
                    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                    descriptors.emplace_back(fd);
                }
            }
        }
        if (n <= 0) {
            return 0;  // the program closed its end
        }
        if (descriptors.size() > kMaxQueuedDescriptors) {
            SendAll(EncodeReply(Status::kMalformed, {}));
            return kExitProtocol;
        }
        pending.insert(pending.end(), chunk.begin(), chunk.begin() + n);
    }
}

}  // namespace
}  // namespace packmeter::linuxfs::measure

int main() {
    // Only the socket and the standard streams stay open.
    ::close_range(3, ~0U, 0);
    if (!packmeter::linuxfs::measure::BecomeCaller()) {
        static constexpr char kMessage[] =
            "packmeter-measure: standard input must be the Unix socket of the program that "
            "started it\n";
        [[maybe_unused]] const auto ignored = ::write(2, kMessage, sizeof kMessage - 1);
        return packmeter::linuxfs::measure::kExitStartup;
    }
    return packmeter::linuxfs::measure::Serve();
}

#include "platform/linux/scan/measure_client.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

extern char** environ;

namespace packmeter::linuxfs {

namespace {

constexpr const char* kPkexec = "/usr/bin/pkexec";
// pkexec's exit status when the user was not authorised or dismissed the dialog.
constexpr int kPkexecNotAuthorised = 126;

bool SendRequest(int socket, const std::vector<std::byte>& bytes, int folderFd) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        iovec part{const_cast<std::byte*>(bytes.data() + sent), bytes.size() - sent};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        if (sent == 0 && folderFd >= 0) {
            // The folder travels with the request's first byte.
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &folderFd, sizeof folderFd);
        }
        const ssize_t n = ::sendmsg(socket, &message, MSG_NOSIGNAL);
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

bool ReceiveAll(int socket, std::byte* into, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(socket, into, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

constexpr const char* kShownInstead =
    "files on btrfs are shown with their uncompressed size. Run as root for exact sizes";

}  // namespace

bool MeasureConnection::Hello() {
    return Exchange(measure::Kind::kHello, -1, {}, {}) == measure::Status::kOk;
}

measure::Status MeasureConnection::Measure(int folderFd, std::span<const std::uint64_t> inodes,
                                           std::span<FileExtentUsage> usage) {
    // Larger batches go in several requests.
    for (std::size_t from = 0; from < inodes.size(); from += measure::kMaxInodes) {
        const std::size_t count = std::min<std::size_t>(measure::kMaxInodes, inodes.size() - from);
        const measure::Status status =
            Exchange(measure::Kind::kMeasure, folderFd, inodes.subspan(from, count),
                     usage.subspan(from, count));
        if (status != measure::Status::kOk) {
            return status;
        }
    }
    return measure::Status::kOk;
}

measure::Status MeasureConnection::Exchange(measure::Kind kind, int folderFd,
                                            std::span<const std::uint64_t> inodes,
                                            std::span<FileExtentUsage> usage) {
    const std::lock_guard hold(lock_);
    const auto lose = [&] {
        lost_ = true;
        socket_.reset();
        return measure::Status::kLost;
    };
    if (lost_) {
        return measure::Status::kLost;
    }
    if (!SendRequest(socket_.get(), measure::EncodeRequest(kind, inodes), folderFd)) {
        return lose();
    }
    std::array<std::byte, measure::kHeaderBytes> head;
    measure::Header header;
    if (!ReceiveAll(socket_.get(), head.data(), head.size()) ||
        !measure::ParseReplyHeader(head, header)) {
        return lose();
    }
    const auto status = static_cast<measure::Status>(header.code);
    if (status != measure::Status::kOk) {
        return status;
    }
    if (header.count != inodes.size()) {
        return lose();
    }
    std::vector<std::byte> records(header.count * measure::kRecordBytes);
    if (!ReceiveAll(socket_.get(), records.data(), records.size())) {
        return lose();
    }
    for (std::size_t i = 0; i < header.count; ++i) {
        usage[i] = measure::DecodeRecord(std::span<const std::byte, measure::kRecordBytes>(
            records.data() + i * measure::kRecordBytes, measure::kRecordBytes));
    }
    return measure::Status::kOk;
}

MeasureHelper& MeasureHelper::Instance() {
    static MeasureHelper helper;
    return helper;
}

std::string MeasureHelper::HelperPath() {
    if (const char* path = std::getenv("PACKMETER_MEASURE_HELPER"); path && *path) {
        return path;
    }
    // Installed beside the programs: <prefix>/bin/packmeter and
    // <prefix>/libexec/packmeter/packmeter-measure.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return (self.parent_path().parent_path() / PACKMETER_HELPER_FROM_PREFIX).string();
}

void MeasureHelper::Disable() {
    const std::lock_guard hold(lock_);
    disabled_ = true;
    connection_.reset();
}

bool MeasureHelper::Available() {
    const std::lock_guard hold(lock_);
    if (connection_ && !connection_->Lost()) {
        return true;
    }
    if (disabled_) {
        notice_ = std::string(
                      "btrfs compressed sizes need root or the measuring helper, which "
                      "is turned off; ") +
                  kShownInstead + " or without --no-helper";
        return false;
    }
    // Once it failed (not installed, not authorised, cancelled), it is not asked again in this
    // run; once it ran, it is started again after it exited while idle.
    return !failed_ && StartLocked();
}

std::string MeasureHelper::Notice() {
    const std::lock_guard hold(lock_);
    return notice_;
}

bool MeasureHelper::StartLocked() {
    if (pid_ > 0) {
        ::waitpid(pid_, nullptr, WNOHANG);
        pid_ = -1;
    }
    const std::string helper = HelperPath();
    const auto fail = [&](const std::string& why) {
        failed_ = true;
        connection_.reset();
        notice_ = "btrfs compressed sizes need root: " + why + ", so " + kShownInstead + ".";
        return false;
    };
    if (helper.empty() || ::access(helper.c_str(), X_OK) != 0) {
        return fail("the measuring helper " + helper + " is not installed");
    }
    if (::access(kPkexec, X_OK) != 0) {
        return fail("pkexec, which starts the measuring helper, is not installed");
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return fail(std::string("the measuring helper could not be started (") +
                    std::strerror(errno) + ")");
    }
    UniqueFd mine(ends[0]);
    UniqueFd theirs(ends[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
    // pkexec's own messages would repeat ours in other words.
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(kPkexec), const_cast<char*>(helper.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, kPkexec, &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    theirs.reset();
    if (spawned != 0) {
        return fail(std::string("pkexec could not be started (") + std::strerror(spawned) + ")");
    }
    auto connection = std::make_shared<MeasureConnection>(std::move(mine));
    if (!connection->Hello()) {
        // pkexec ended without starting the helper: the reason is in its exit status.
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        // pkexec gives 126 when refused or cancelled and 127 when no agent could ask; the
        // helper itself gives 2 when it was started wrongly.
        const bool refused = WIFEXITED(status) && WEXITSTATUS(status) >= kPkexecNotAuthorised;
        return fail(refused ? "the measuring helper was not authorised (pkexec refused it or "
                              "the password dialog was cancelled)"
                            : "the measuring helper could not be started");
    }
    // pkexec became the helper; it ends when its socket closes or it has been idle, and is
    // reaped when the next one starts.
    connection_ = std::move(connection);
    notice_.clear();
    pid_ = pid;
    return true;
}

ExtentSearch MeasureHelper::Search(int folderFd, std::span<const std::uint64_t> inodes,
                                   std::span<FileExtentUsage> usage) {
    std::shared_ptr<MeasureConnection> connection;
    {
        const std::lock_guard hold(lock_);
        connection = connection_;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connection) {
            return ExtentSearch::kNotPermitted;
        }
        const measure::Status status = connection->Measure(folderFd, inodes, usage);
        if (status == measure::Status::kOk) {
            return ExtentSearch::kDone;
        }
        if (status != measure::Status::kLost) {
            return ExtentSearch::kFailed;
        }
        // It exited while idle (or died): one new start.
        const std::lock_guard hold(lock_);
        if (connection_ == connection) {
            connection_.reset();
            if (disabled_ || failed_ || !StartLocked()) {
                return ExtentSearch::kNotPermitted;
            }
        }
        connection = connection_;
    }
    return ExtentSearch::kNotPermitted;
}

}  // namespace packmeter::linuxfs

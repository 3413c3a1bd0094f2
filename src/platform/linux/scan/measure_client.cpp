#include "platform/linux/scan/measure_client.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

constexpr const char* kShownInstead =
    "files on btrfs are shown with their uncompressed size. Run as root for exact sizes";

}  // namespace

bool MeasureConnection::Hello() {
    std::uint64_t ticket;
    {
        const std::lock_guard hold(lock_);
        ticket = SendLocked(measure::Kind::kHello, -1, {});
    }
    return ticket != 0 && Wait(ticket).status == measure::Status::kOk;
}

measure::Status MeasureConnection::Measure(int folderFd, std::span<const std::uint64_t> inodes,
                                           std::span<FileExtentUsage> usage) {
    // Larger batches go in several requests.
    for (std::size_t from = 0; from < inodes.size(); from += measure::kMaxInodes) {
        const std::size_t count = std::min<std::size_t>(measure::kMaxInodes, inodes.size() - from);
        std::uint64_t ticket;
        {
            const std::lock_guard hold(lock_);
            ticket = SendLocked(measure::Kind::kMeasure, folderFd, inodes.subspan(from, count));
        }
        if (ticket == 0) {
            return measure::Status::kLost;
        }
        Reply reply = Wait(ticket);
        if (reply.status != measure::Status::kOk) {
            return reply.status;
        }
        std::copy(reply.usage.begin(), reply.usage.end(), usage.begin() + from);
    }
    return measure::Status::kOk;
}

std::uint64_t MeasureConnection::Send(int folderFd) {
    const std::lock_guard hold(lock_);
    return SendLocked(measure::Kind::kMeasureFolder, folderFd, {});
}

FolderFigures MeasureConnection::Take(std::uint64_t ticket) {
    Reply reply = Wait(ticket);
    return {reply.status, std::move(reply.inodes), std::move(reply.usage)};
}

bool MeasureConnection::Lost() const {
    const std::lock_guard hold(lock_);
    return lost_;
}

void MeasureConnection::LoseLocked() {
    lost_ = true;
    // Every request still waiting ends as lost; the socket closes once nobody reads it.
    ::shutdown(socket_.get(), SHUT_RDWR);
    arrived_.notify_all();
}

std::uint64_t MeasureConnection::SendLocked(measure::Kind kind, int folderFd,
                                            std::span<const std::uint64_t> inodes) {
    if (lost_) {
        return 0;
    }
    if (!SendRequest(socket_.get(), measure::EncodeRequest(kind, inodes), folderFd)) {
        LoseLocked();
        return 0;
    }
    pending_.emplace_back(kind, inodes.size());
    return ++sent_;
}

MeasureConnection::Reply MeasureConnection::Wait(std::uint64_t ticket) {
    std::unique_lock hold(lock_);
    for (;;) {
        if (const auto it = ready_.find(ticket); it != ready_.end()) {
            Reply reply = std::move(it->second);
            ready_.erase(it);
            return reply;
        }
        if (lost_) {
            return {};
        }
        if (reading_) {
            arrived_.wait(hold);
            continue;
        }
        // This thread reads the next reply, whoever it is for.
        reading_ = true;
        const auto [kind, expected] = pending_.front();
        hold.unlock();
        Reply reply = ReadReply(kind, expected);
        hold.lock();
        reading_ = false;
        if (reply.status == measure::Status::kLost) {
            LoseLocked();
            continue;
        }
        pending_.pop_front();
        ready_.emplace(++read_, std::move(reply));
        arrived_.notify_all();
    }
}

bool MeasureConnection::Receive(std::byte* into, std::size_t size) {
    if (!inbox_) {
        inbox_ = std::make_unique_for_overwrite<std::byte[]>(kInboxBytes);
    }
    while (size > 0) {
        if (inboxAt_ == inboxEnd_) {
            const ssize_t n = ::recv(socket_.get(), inbox_.get(), kInboxBytes, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            inboxAt_ = 0;
            inboxEnd_ = static_cast<std::size_t>(n);
        }
        const std::size_t part = std::min(size, inboxEnd_ - inboxAt_);
        std::memcpy(into, inbox_.get() + inboxAt_, part);
        inboxAt_ += part;
        into += part;
        size -= part;
    }
    return true;
}

MeasureConnection::Reply MeasureConnection::ReadReply(measure::Kind kind, std::size_t expected) {
    Reply reply;
    std::array<std::byte, measure::kHeaderBytes> head;
    measure::Header header;
    if (!Receive(head.data(), head.size()) || !measure::ParseReplyHeader(head, header)) {
        return reply;
    }
    const auto status = static_cast<measure::Status>(header.code);
    if (status != measure::Status::kOk) {
        reply.status = status;
        return reply;
    }
    const bool folder = kind == measure::Kind::kMeasureFolder;
    if (!folder && header.count != expected) {
        return reply;
    }
    const std::size_t recordBytes = measure::kRecordBytes + (folder ? sizeof(std::uint64_t) : 0);
    std::vector<std::byte> records(header.count * recordBytes);
    if (!Receive(records.data(), records.size())) {
        return reply;
    }
    reply.usage.resize(header.count);
    for (std::size_t i = 0; i < header.count; ++i) {
        const std::byte* at = records.data() + i * recordBytes;
        if (folder) {
            std::uint64_t inode;
            std::memcpy(&inode, at, sizeof inode);
            reply.inodes.push_back(inode);
            at += sizeof inode;
        }
        reply.usage[i] = measure::DecodeRecord(
            std::span<const std::byte, measure::kRecordBytes>(at, measure::kRecordBytes));
    }
    reply.status = measure::Status::kOk;
    return reply;
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

MeasureHelper::Pending& MeasureHelper::Pending::operator=(Pending&& other) noexcept {
    if (this != &other) {
        Finish();
        connection_ = std::move(other.connection_);
        ticket_ = std::exchange(other.ticket_, 0);
    }
    return *this;
}

MeasureHelper::Pending::~Pending() {
    // The reply is taken even when nobody wants it: replies come in order.
    Finish();
}

FolderFigures MeasureHelper::Pending::Finish() {
    if (ticket_ == 0 || !connection_) {
        return {};
    }
    return connection_->Take(std::exchange(ticket_, 0));
}

MeasureHelper::Pending MeasureHelper::Begin(int folderFd) {
    const std::lock_guard hold(lock_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (connection_) {
            if (const std::uint64_t ticket = connection_->Send(folderFd)) {
                return Pending(connection_, ticket);
            }
        }
        // It exited while idle (or died): started once more.
        connection_.reset();
        if (disabled_ || failed_ || !StartLocked()) {
            break;
        }
    }
    return {};
}

}  // namespace packmeter::linuxfs

// The measuring helper as pkexec starts it (root, the caller's socket as standard input,
// PKEXEC_UID set, an empty environment), asked by a child that has dropped to an unprivileged
// user and hands over folders it opened itself: its figures equal compsize's for every kind of
// extent, and it refuses what that user could not see and requests that are not well formed.

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/linux/scan/measure_client.hpp"
#include "platform/linux/scan/measure_protocol.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

namespace fs = std::filesystem;
using linuxfs::FileExtentUsage;
using linuxfs::MeasureConnection;
using linuxfs::UniqueFd;
using linuxfs::measure::Status;

constexpr uid_t kNobody = 65534;

void Remount(const std::string& root, const std::string& compress) {
    RunCommand({"sync"});
    ASSERT_EQ(RunCommand({"mount", "-o", "remount,compress=" + compress, root}).status, 0);
}

std::uint64_t InodeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The lines AlgorithmLines would write for one file's figures.
std::string UsageLines(const FileExtentUsage& usage) {
    constexpr Algorithm kinds[] = {Algorithm::kNone, Algorithm::kZlib, Algorithm::kLzo,
                                   Algorithm::kZstd, Algorithm::kPrealloc};
    AlgorithmSplit split;
    for (std::size_t kind = 0; kind < linuxfs::kExtentKinds; ++kind) {
        const auto& f = usage.byKind[kind];
        if (f.disk || f.uncompressed || f.referenced) {
            split.Add(kinds[kind],
                      {static_cast<std::int64_t>(f.disk), static_cast<std::int64_t>(f.uncompressed),
                       static_cast<std::int64_t>(f.referenced)});
        }
    }
    return AlgorithmLines(split);
}

bool SendDescriptor(int socket, int fd) {
    char byte = 0;
    iovec part{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    return ::sendmsg(socket, &message, 0) == 1;
}

int ReceiveDescriptor(int socket) {
    char byte = 0;
    iovec part{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(socket, &message, MSG_CMSG_CLOEXEC) != 1) {
        return -1;
    }
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    int fd = -1;
    if (c && c->cmsg_type == SCM_RIGHTS) {
        std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    }
    return fd;
}

// The child's records each end with this (an answer may span lines).
constexpr char kEnd = '\x1e';

// What the unprivileged child asks, one "case: answer" line each; runs after fork.
struct ChildPlan {
    std::string top;                  // a folder of the btrfs volume, readable by all
    std::vector<std::string> files;   // regular files in it
    std::uint64_t hiddenInode = 0;    // a file in top/secret (mode 0700, root's)
    std::uint64_t listOnlyInode = 0;  // a file in top/listonly (mode 0744)
    std::string ext4Folder;
    std::uint64_t ext4Inode = 0;
};

std::string StatusText(Status status) {
    return std::to_string(static_cast<int>(status));
}

void RunChild(int control, const ChildPlan& plan) {
    std::ostringstream out;
    const auto finish = [&](int code) {
        const std::string text = out.str();
        [[maybe_unused]] auto written = ::write(control, text.data(), text.size());
        ::_exit(code);
    };
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0) {
        out << "drop: failed" << kEnd;
        return finish(1);
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0 ||
        !SendDescriptor(control, ends[1])) {
        out << "socket: failed" << kEnd;
        return finish(1);
    }
    ::close(ends[1]);
    const int raw = ::dup(ends[0]);
    MeasureConnection helper{UniqueFd(ends[0])};
    out << "hello: " << helper.Hello() << kEnd;
    const UniqueFd top(::open(plan.top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const auto ask = [&](int fd, std::vector<std::uint64_t> inodes) {
        std::vector<FileExtentUsage> usage(inodes.size());
        const Status status = helper.Measure(fd, inodes, usage);
        return std::make_pair(status, usage);
    };
    for (const std::string& name : plan.files) {
        struct stat st;
        ::fstatat(top.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
        const auto [status, usage] = ask(top.get(), {st.st_ino});
        out << name << ": " << (status == Status::kOk ? UsageLines(usage[0]) : StatusText(status))
            << kEnd;
    }
    out << "not-an-entry: " << StatusText(ask(top.get(), {plan.hiddenInode}).first) << kEnd;
    out << "secret-open: " << (::open((plan.top + "/secret").c_str(), O_RDONLY) >= 0) << kEnd;
    const UniqueFd path(::open((plan.top + "/secret").c_str(), O_PATH | O_CLOEXEC));
    out << "o-path: " << StatusText(ask(path.get(), {plan.hiddenInode}).first) << kEnd;
    const UniqueFd listOnly(
        ::open((plan.top + "/listonly").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    out << "list-only: "
        << (listOnly ? StatusText(ask(listOnly.get(), {plan.listOnlyInode}).first) : "not opened")
        << kEnd;
    const UniqueFd ext4(::open(plan.ext4Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    out << "ext4: " << StatusText(ask(ext4.get(), {plan.ext4Inode}).first) << kEnd;
    out << "no-descriptor: " << StatusText(ask(-1, {InodeOf(plan.top)}).first) << kEnd;
    out << "unsorted: " << StatusText(ask(top.get(), {9, 3}).first) << kEnd;
    out << "hello-after-refusals: " << helper.Hello() << kEnd;
    // More inodes than one request may carry: answered, then the helper hangs up.
    linuxfs::measure::Header header{linuxfs::measure::kRequestMagic, linuxfs::measure::kVersion,
                                    static_cast<std::uint16_t>(linuxfs::measure::Kind::kMeasure),
                                    linuxfs::measure::kMaxInodes + 1, 0};
    [[maybe_unused]] auto sent = ::send(raw, &header, sizeof header, MSG_NOSIGNAL);
    linuxfs::measure::Header reply{};
    const bool answered = ::recv(raw, &reply, sizeof reply, MSG_WAITALL) == sizeof reply;
    char more;
    out << "oversized: " << (answered ? std::to_string(reply.code) : "no answer")
        << (::recv(raw, &more, 1, 0) == 0 ? " closed" : " open") << kEnd;
    finish(0);
}

std::map<std::string, std::string> ParseAnswers(const std::string& text) {
    std::map<std::string, std::string> result;
    std::istringstream records(text);
    for (std::string record; std::getline(records, record, kEnd);) {
        const std::size_t colon = record.find(": ");
        if (colon != std::string::npos) {
            result[record.substr(0, colon)] = record.substr(colon + 2);
        }
    }
    return result;
}

TEST(MeasureHelperTest, AnswersAnUnprivilegedCallerLikeCompsizeAndRefusesWhatItCannotSee) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kBtrfs, root);
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kExt4, ext4);
    const std::string top = root + "/m";
    fs::create_directories(top);
    Remount(root, "zstd");
    WriteFile(top + "/zstd", Compressible(300000));
    WriteFile(top + "/inline", Compressible(1500));
    WriteFile(top + "/tiny", "abc");
    WriteFile(top + "/shared", Compressible(400000));
    Remount(root, "lzo");
    WriteFile(top + "/lzo", Compressible(300000));
    WriteFile(top + "/mixed", Compressible(200000));
    Remount(root, "zlib");
    WriteFile(top + "/zlib", Compressible(300000));
    {
        // mixed: lzo, then zlib, then plain incompressible bytes.
        std::ofstream more(top + "/mixed", std::ios::app | std::ios::binary);
        more << Compressible(150000) << Incompressible(70000);
    }
    Remount(root, "no");
    {
        // holes: data, a gap of 4 MiB, data.
        std::ofstream sparse(top + "/holes", std::ios::binary);
        sparse << Incompressible(100000);
        sparse.seekp(4 << 20);
        sparse << Incompressible(50000);
    }
    RunCommand({"sync"});
    ASSERT_EQ(RunCommand({"cp", "--reflink=always", top + "/shared", top + "/shared-copy"}).status,
              0);
    {
        // twice: one extent referenced at two places of the same file.
        WriteFile(top + "/twice", Incompressible(128 * 1024));
        RunCommand({"sync"});
        const UniqueFd file(::open((top + "/twice").c_str(), O_RDWR | O_CLOEXEC));
        file_clone_range range{file.get(), 0, 128 * 1024, 1 << 20};
        ASSERT_EQ(::ioctl(file.get(), FICLONERANGE, &range), 0) << std::strerror(errno);
    }
    ASSERT_EQ(RunCommand({"fallocate", "-l", "100000", top + "/prealloc"}).status, 0);
    fs::create_directories(top + "/secret");
    WriteFile(top + "/secret/hidden", Compressible(50000));
    ::chmod((top + "/secret").c_str(), 0700);
    fs::create_directories(top + "/listonly");
    WriteFile(top + "/listonly/x", Compressible(50000));
    ::chmod((top + "/listonly").c_str(), 0744);
    fs::create_directories(ext4 + "/plain");
    WriteFile(ext4 + "/plain/file", Compressible(50000));
    RunCommand({"sync"});

    ChildPlan plan;
    plan.top = top;
    plan.files = {"zstd",  "lzo",    "zlib",        "mixed", "inline",  "tiny",
                  "holes", "shared", "shared-copy", "twice", "prealloc"};
    plan.hiddenInode = InodeOf(top + "/secret/hidden");
    plan.listOnlyInode = InodeOf(top + "/listonly/x");
    plan.ext4Folder = ext4 + "/plain";
    plan.ext4Inode = InodeOf(ext4 + "/plain/file");
    std::map<std::string, std::string> expected;
    for (const std::string& name : plan.files) {
        expected[name] = CompsizeLines(top + "/" + name);
        ASSERT_FALSE(expected[name].empty()) << name;
    }
    // Every kind of extent is among them.
    EXPECT_NE(expected["mixed"].find("lzo"), std::string::npos) << expected["mixed"];
    EXPECT_NE(expected["mixed"].find("zlib"), std::string::npos) << expected["mixed"];
    EXPECT_NE(expected["mixed"].find("none"), std::string::npos) << expected["mixed"];
    EXPECT_NE(expected["zstd"].find("zstd"), std::string::npos);
    EXPECT_NE(expected["prealloc"].find("prealloc"), std::string::npos);

    int control[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(control[0]);
        RunChild(control[1], plan);
        ::_exit(2);
    }
    ::close(control[1]);
    const UniqueFd fromChild(control[0]);
    // The helper's end of the child's socket: the helper is started on it as pkexec would.
    UniqueFd helperEnd(ReceiveDescriptor(fromChild.get()));
    ASSERT_TRUE(helperEnd);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, helperEnd.get(), 0);
    const std::string program = PACKMETER_MEASURE_HELPER_BIN;
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    char pkexecUid[] = "PKEXEC_UID=65534";
    char* envp[] = {pkexecUid, nullptr};
    pid_t helper = -1;
    ASSERT_EQ(::posix_spawn(&helper, program.c_str(), &actions, nullptr, argv, envp), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    helperEnd.reset();  // the helper's only: it hangs up by closing it
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fromChild.get(), buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    int childStatus = 0;
    int helperStatus = 0;
    ::waitpid(child, &childStatus, 0);
    ::waitpid(helper, &helperStatus, 0);
    SCOPED_TRACE(text);
    EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0);
    // It hung up after the oversized request, without crashing.
    EXPECT_TRUE(WIFEXITED(helperStatus) && WEXITSTATUS(helperStatus) == 3) << helperStatus;

    const auto answers = ParseAnswers(text);
    const auto answer = [&](const std::string& key) {
        const auto it = answers.find(key);
        return it == answers.end() ? std::string("(none)") : it->second;
    };
    EXPECT_EQ(answer("hello"), "1");
    for (const std::string& name : plan.files) {
        EXPECT_EQ(answer(name), expected[name]) << name;
    }
    const auto code = [](Status status) { return std::to_string(static_cast<int>(status)); };
    EXPECT_EQ(answer("not-an-entry"), code(Status::kNotAnEntry));
    EXPECT_EQ(answer("secret-open"), "0");
    EXPECT_EQ(answer("o-path"), code(Status::kBadDescriptor));
    EXPECT_EQ(answer("list-only"), code(Status::kNotPermitted));
    EXPECT_EQ(answer("ext4"), code(Status::kNotBtrfs));
    EXPECT_EQ(answer("no-descriptor"), code(Status::kNoDescriptor));
    EXPECT_EQ(answer("unsorted"), code(Status::kMalformed));
    EXPECT_EQ(answer("hello-after-refusals"), "1");
    EXPECT_EQ(answer("oversized"), code(Status::kTooLarge) + " closed");
}

}  // namespace
}  // namespace packmeter::testing

#include "test_volumes.hpp"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace packmeter::testing {

namespace {

// Closes both ends of a pipe that are still open.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() {
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            fds[0] = fds[1] = -1;
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void CloseRead() {
        if (fds[0] >= 0) {
            ::close(fds[0]);
        }
        fds[0] = -1;
    }
    void CloseWrite() {
        if (fds[1] >= 0) {
            ::close(fds[1]);
        }
        fds[1] = -1;
    }
};

// Removes what nftw visits children first; FTW_MOUNT keeps it on this file system.
int RemoveOne(const char* path, const struct stat*, int, FTW*) {
    ::remove(path);
    return 0;
}

bool HaveProgram(const std::string& name) {
    return RunCommand({"sh", "-c", "command -v " + name}).status == 0;
}

const char* VolumeName(VolumeType type) {
    switch (type) {
        case VolumeType::kBtrfs:
            return "btrfs";
        case VolumeType::kBtrfsZstd:
            return "btrfs-zstd";
        case VolumeType::kNtfs:
            return "ntfs";
        case VolumeType::kTmpfs:
            return "tmpfs";
    }
    return "volume";
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv) {
    CommandResult result;
    Pipe out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fds[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    out.CloseWrite();
    err.CloseWrite();
    if (spawned != 0) {
        result.err = "cannot run " + argv[0];
        return result;
    }
    pollfd polls[2] = {{out.fds[0], POLLIN, 0}, {err.fds[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0 && ::poll(polls, 2, -1) >= 0) {
        for (int i = 0; i < 2; ++i) {
            if (polls[i].fd >= 0 && polls[i].revents) {
                char chunk[4096];
                const ssize_t got = ::read(polls[i].fd, chunk, sizeof chunk);
                if (got > 0) {
                    sinks[i]->append(chunk, static_cast<std::size_t>(got));
                } else {
                    polls[i].fd = -1;
                    --open;
                }
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TempDir::TempDir(const std::string& parent) {
    std::string pattern = parent + "/run-XXXXXX";
    if (::mkdtemp(pattern.data())) {
        path_ = pattern;
        // Other users (the unprivileged tests) must reach the volumes inside.
        ::chmod(path_.c_str(), 0755);
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        ::nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    }
}

LoopDevice::LoopDevice(const std::string& image) {
    // Tests running side by side may race for the same free device: try again.
    for (int attempt = 0; attempt < 5 && device_.empty(); ++attempt) {
        const CommandResult r = RunCommand({"losetup", "--find", "--show", image});
        if (r.status == 0 && !r.out.empty()) {
            device_ = r.out.substr(0, r.out.find('\n'));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

LoopDevice::~LoopDevice() {
    if (!device_.empty()) {
        RunCommand({"losetup", "-d", device_});
    }
}

MountPoint::MountPoint(const std::vector<std::string>& command, std::string target)
    : target_(std::move(target)) {
    const CommandResult r = RunCommand(command);
    mounted_ = r.status == 0;
    error_ = r.err;
}

MountPoint::~MountPoint() {
    if (!mounted_) {
        return;
    }
    // A FUSE daemon or a just-closed descriptor can keep the mount busy for a moment.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::umount2(target_.c_str(), 0) == 0 || errno == EINVAL || errno == ENOENT) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::umount2(target_.c_str(), MNT_DETACH);
}

TestVolume::TestVolume(VolumeType type, const std::string& parent) {
    const std::string name = VolumeName(type);
    root_ = parent + "/" + name;
    const std::string image = parent + "/" + name + ".img";
    if (::mkdir(root_.c_str(), 0755) != 0) {
        failure_ = "cannot make " + root_;
        return;
    }
    if (type == VolumeType::kTmpfs) {
        mount_ = std::make_unique<MountPoint>(
            std::vector<std::string>{"mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs", root_},
            root_);
    } else {
        const bool ntfs = type == VolumeType::kNtfs;
        // 128 MiB is about the smallest btrfs that mkfs accepts; large enough for sparse
        // files of any size, which are holes.
        const CommandResult made =
            RunCommand({"truncate", "-s", ntfs ? "96M" : "128M", image}).status != 0
                ? CommandResult{}
            : ntfs ? RunCommand({"mkntfs", "-F", "-f", "-q", image})
                   : RunCommand({"mkfs.btrfs", "-q", "-f", image});
        if (made.status != 0) {
            failure_ = "cannot make the " + name + " image: " + made.err;
            return;
        }
        loop_ = std::make_unique<LoopDevice>(image);
        if (!loop_->Attached()) {
            failure_ = "no loop device for " + image;
            return;
        }
        std::vector<std::string> command;
        if (ntfs) {
            command = {"ntfs-3g", "-o", "compression", loop_->Device(), root_};
        } else {
            command = {"mount", "-t", "btrfs", loop_->Device(), root_};
            if (type == VolumeType::kBtrfsZstd) {
                command.insert(command.begin() + 1, {"-o", "compress=zstd"});
            }
        }
        mount_ = std::make_unique<MountPoint>(command, root_);
    }
    if (!mount_->Mounted()) {
        failure_ = "cannot mount " + name + ": " + mount_->Error();
        return;
    }
    ::chmod(root_.c_str(), 0755);
}

TestArea::TestArea() {
    ::mkdir(PACKMETER_TEST_AREA, 0755);
    dir_ = std::make_unique<TempDir>(PACKMETER_TEST_AREA);
}

std::string TestArea::Unavailable() const {
    if (::geteuid() != 0) {
        return "needs root to make and mount file-system images";
    }
    if (dir_->Path().empty()) {
        return "cannot make a folder in " PACKMETER_TEST_AREA;
    }
    return {};
}

const TestVolume* TestArea::Volume(VolumeType type, std::string* why) {
    for (const auto& [made, volume] : volumes_) {
        if (made == type) {
            if (!volume->Failure().empty() && why) {
                *why = volume->Failure();
            }
            return volume->Failure().empty() ? volume.get() : nullptr;
        }
    }
    std::string reason = Unavailable();
    const char* tool = type == VolumeType::kNtfs    ? "ntfs-3g"
                       : type == VolumeType::kTmpfs ? "mount"
                                                    : "mkfs.btrfs";
    if (reason.empty() && !HaveProgram(tool)) {
        reason = std::string(tool) + " is not installed (tools/packages/test.txt)";
    }
    if (reason.empty() && type == VolumeType::kNtfs && !HaveProgram("mkntfs")) {
        reason = "mkntfs is not installed (tools/packages/test.txt)";
    }
    if (!reason.empty()) {
        if (why) {
            *why = reason;
        }
        return nullptr;
    }
    auto volume = std::make_unique<TestVolume>(type, dir_->Path());
    const TestVolume* result = volume->Failure().empty() ? volume.get() : nullptr;
    if (!result && why) {
        *why = volume->Failure();
    }
    volumes_.emplace_back(type, std::move(volume));
    return result;
}

}  // namespace packmeter::testing

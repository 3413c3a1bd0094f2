#include "tests/platform/linux/scan/test_volumes.hpp"

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
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

int RemoveOne(const char* path, const struct stat*, int, FTW*) {
    ::remove(path);
    return 0;
}

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv) {
    CommandResult result;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    char chunk[4096];
    for (ssize_t got; (got = ::read(pipe[0], chunk, sizeof chunk)) > 0;) {
        result.output.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipe[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid) {
        result.output = "cannot run " + argv[0];
        return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CommandResult RunCommandAs(unsigned id, const std::vector<std::string>& argv) {
    CommandResult result;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int input = ::open("/dev/null", O_RDONLY);
        if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(pipe[1], 1) < 0 || ::dup2(pipe[1], 2) < 0 ||
            ::setgroups(0, nullptr) != 0 || ::setresgid(id, id, id) != 0 ||
            ::setresuid(id, id, id) != 0) {
            ::_exit(127);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    char chunk[4096];
    for (ssize_t got; (got = ::read(pipe[0], chunk, sizeof chunk)) > 0;) {
        result.output.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipe[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        result.output = "cannot run " + argv[0];
        return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TempDir::TempDir(const std::string& parent) {
    std::string pattern = parent + "/run-XXXXXX";
    if (::mkdtemp(pattern.data())) {
        path_ = pattern;
        ::chmod(path_.c_str(), 0755);  // the unprivileged tests reach the volumes inside
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
        if (r.status == 0) {
            device_ = r.output.substr(0, r.output.find('\n'));
        } else {
            Pause();
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
    error_ = r.output;
}

MountPoint::~MountPoint() {
    // A FUSE daemon or a just-closed descriptor can keep the mount busy for a moment.
    for (int attempt = 0; mounted_ && attempt < 50; ++attempt) {
        mounted_ = ::umount2(target_.c_str(), 0) != 0 && errno == EBUSY;
        if (mounted_) {
            Pause();
        }
    }
    if (mounted_) {
        ::umount2(target_.c_str(), MNT_DETACH);
    }
}

TestArea::TestArea() {
    ::mkdir(PACKMETER_TEST_AREA, 0755);
    dir_ = std::make_unique<TempDir>(PACKMETER_TEST_AREA);
}

std::string TestArea::Volume(VolumeType type, std::string& why) {
    return Volume(type, why, "");
}

std::string TestArea::Volume(VolumeType type, std::string& why, const std::string& ntfsOptions) {
    for (const Mounted& volume : volumes_) {
        if (volume.type == type && volume.options == ntfsOptions) {
            return volume.root;
        }
    }
    if (::geteuid() != 0 || dir_->Path().empty()) {
        why = "needs root to make and mount file-system images in " PACKMETER_TEST_AREA;
        return {};
    }
    const char* names[] = {"btrfs", "btrfs-zstd", "ntfs", "tmpfs", "lowntfs", "ext4"};
    std::string name = names[static_cast<int>(type)];
    if (!ntfsOptions.empty()) {
        name += "-" + std::to_string(volumes_.size());
    }
    Mounted volume{type, ntfsOptions, dir_->Path() + "/" + name, nullptr, nullptr};
    const std::string image = volume.root + ".img";
    ::mkdir(volume.root.c_str(), 0755);
    std::vector<std::string> mount = {"mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs"};
    if (type != VolumeType::kTmpfs) {
        // 128 MiB is about the smallest btrfs mkfs accepts; sparse files of any size fit,
        // being holes.
        const bool ntfs = type == VolumeType::kNtfs || type == VolumeType::kLowNtfs;
        RunCommand({"truncate", "-s", "128M", image});
        const bool ext4 = type == VolumeType::kExt4;
        const CommandResult made = ntfs   ? RunCommand({"mkntfs", "-F", "-f", "-q", image})
                                   : ext4 ? RunCommand({"mkfs.ext4", "-q", "-F", image})
                                          : RunCommand({"mkfs.btrfs", "-q", "-f", image});
        if (made.status != 0) {
            why = "cannot make " + name + " (tools/packages/test.txt): " + made.output;
            return {};
        }
        volume.loop = std::make_unique<LoopDevice>(image);
        if (volume.loop->Device().empty()) {
            why = "no loop device for " + image;
            return {};
        }
        const char* driver = type == VolumeType::kLowNtfs ? "lowntfs-3g" : "ntfs-3g";
        mount = ntfs ? std::vector<std::string>{driver, "-o",
                                                "compression" + (ntfsOptions.empty()
                                                                     ? std::string()
                                                                     : "," + ntfsOptions)}
                     : std::vector<std::string>{"mount", "-t", ext4 ? "ext4" : "btrfs"};
        if (type == VolumeType::kBtrfsZstd) {
            mount.insert(mount.end(), {"-o", "compress=zstd"});
        }
        mount.push_back(volume.loop->Device());
    }
    mount.push_back(volume.root);
    volume.mount = std::make_unique<MountPoint>(mount, volume.root);
    if (!volume.mount->Mounted()) {
        why = "cannot mount " + name + ": " + volume.mount->Error();
        return {};
    }
    ::chmod(volume.root.c_str(), 0755);
    volumes_.push_back(std::move(volume));
    return volumes_.back().root;
}

}  // namespace packmeter::testing

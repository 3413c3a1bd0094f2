#pragma once

// Real file systems for the back-end tests: loop images made and mounted by the test itself
// (btrfs with and without compression, NTFS through ntfs-3g, tmpfs) in a folder of its own
// under the build's test area, all undone when the test ends, also when it fails. Needs root.

#include <memory>
#include <string>
#include <vector>

namespace packmeter::testing {

struct CommandResult {
    int status = -1;     // exit status; -1 when it could not run or was killed
    std::string output;  // standard output and error together
};

// Runs a program (searched in PATH) with its arguments, without a shell.
CommandResult RunCommand(const std::vector<std::string>& argv);
// The same as the unprivileged user and group `id` (65534 is "nobody"), with no other groups.
CommandResult RunCommandAs(unsigned id, const std::vector<std::string>& argv);

// A fresh folder, removed with everything in it at the end (never across a mount point).
class TempDir {
  public:
    explicit TempDir(const std::string& parent);
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// A loop device attached to an image file, detached at the end.
class LoopDevice {
  public:
    explicit LoopDevice(const std::string& image);
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    ~LoopDevice();
    const std::string& Device() const { return device_; }

  private:
    std::string device_;
};

// A mount made by a command (mount, ntfs-3g) on `target`, unmounted at the end.
class MountPoint {
  public:
    MountPoint(const std::vector<std::string>& command, std::string target);
    MountPoint(const MountPoint&) = delete;
    MountPoint& operator=(const MountPoint&) = delete;
    ~MountPoint();
    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }

  private:
    std::string target_;
    bool mounted_ = false;
    std::string error_;
};

// kLowNtfs: NTFS through lowntfs-3g, the other way Debian mounts NTFS.
enum class VolumeType { kBtrfs, kBtrfsZstd, kNtfs, kTmpfs, kLowNtfs, kExt4 };

// The folder of one test, holding the images and mount points of the volumes it asks for.
class TestArea {
  public:
    TestArea();
    // The root of a mounted volume of `type`, made on first use; empty, with the reason in
    // `why`, when it cannot be made (not root, a tool missing, no loop device).
    std::string Volume(VolumeType type, std::string& why);
    // The same with further mount options for the NTFS drivers ("nocompression",
    // "streams_interface=windows"): a volume of its own for each set of options.
    std::string Volume(VolumeType type, std::string& why, const std::string& ntfsOptions);
    const std::string& Folder() const { return dir_->Path(); }

  private:
    struct Mounted {
        VolumeType type;
        std::string options;
        std::string root;
        std::unique_ptr<LoopDevice> loop;
        std::unique_ptr<MountPoint> mount;
    };
    std::unique_ptr<TempDir> dir_;
    std::vector<Mounted> volumes_;  // destroyed before dir_: unmounted before it is removed
};

// Declares `root` as the root of a volume of `type`, or skips the test saying why.
#define PACKMETER_VOLUME_OR_SKIP(area, type, root)            \
    std::string why_##root;                                   \
    const std::string root = (area).Volume(type, why_##root); \
    if (root.empty())                                         \
    GTEST_SKIP() << why_##root

}  // namespace packmeter::testing

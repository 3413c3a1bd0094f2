#pragma once

// Real file systems for the back-end tests: loop images made and mounted by the test itself
// (btrfs with and without compression, NTFS through ntfs-3g, tmpfs), each undone when the test
// ends, also when it fails. Needs root; tests skip with the reason otherwise.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace packmeter::testing {

struct CommandResult {
    int status = -1;  // exit status, or -1 when the program could not run or was killed
    std::string out;
    std::string err;
};

// Runs a program (searched in PATH) with its arguments, no shell, and collects its output.
CommandResult RunCommand(const std::vector<std::string>& argv);

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
    bool Attached() const { return !device_.empty(); }

  private:
    std::string device_;
};

// A mount made by a command (mount, ntfs-3g), unmounted at the end.
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

enum class VolumeType { kBtrfs, kBtrfsZstd, kNtfs, kTmpfs };

// One mounted file system on a loop image of its own.
class TestVolume {
  public:
    TestVolume(VolumeType type, const std::string& parent);
    // Empty when it is ready; otherwise why it could not be made.
    const std::string& Failure() const { return failure_; }
    // The mounted folder, without trailing separator.
    const std::string& Root() const { return root_; }

  private:
    std::string failure_;
    std::string root_;
    std::unique_ptr<LoopDevice> loop_;
    std::unique_ptr<MountPoint> mount_;
};

// The area of one test: a temp folder under the build's test folder holding the images and
// mount points of the volumes the test asks for.
class TestArea {
  public:
    TestArea();
    // Why the test cannot run here (not root, a tool missing), or empty.
    std::string Unavailable() const;
    // The volume, made on first use; nullptr (with the reason in `why`) when it cannot be.
    const TestVolume* Volume(VolumeType type, std::string* why = nullptr);
    // A folder in the area on the build's own (local) file system.
    const std::string& LocalFolder() const { return dir_->Path(); }

  private:
    std::unique_ptr<TempDir> dir_;
    std::vector<std::pair<VolumeType, std::unique_ptr<TestVolume>>> volumes_;
};

// Skips the current test when `area` cannot make `type`; otherwise gives the volume's root.
#define PACKMETER_VOLUME_OR_SKIP(area, type, root)        \
    std::string root;                                     \
    {                                                     \
        std::string why_;                                 \
        const auto* volume_ = (area).Volume(type, &why_); \
        if (!volume_) {                                   \
            GTEST_SKIP() << why_;                         \
        }                                                 \
        root = volume_->Root();                           \
    }

}  // namespace packmeter::testing

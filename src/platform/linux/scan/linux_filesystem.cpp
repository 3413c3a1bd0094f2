#include <fcntl.h>

#include "scan/linux_folder.hpp"
#include "scan/open_path.hpp"
#include "scan/volume.hpp"
#include "system.hpp"

namespace packmeter {

namespace linuxfs {

namespace {

class LinuxFileSystem final : public FileSystem {
  public:
    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        // The starting folder is taken as given, links included; below it nothing is followed.
        return LinuxFolder::Create(OpenPath(path, O_RDONLY | O_DIRECTORY), nullptr);
    }

    VolumeInfo GetVolumeInfo(const std::string& path) override {
        UniqueFd fd = OpenPath(path, O_RDONLY);
        if (!fd) {
            fd = OpenPath(path, O_PATH);  // unreadable: the mount can still be named
        }
        return fd ? DescribeVolume(fd.get()) : VolumeInfo{};
    }

    bool CompressionAvailable() const override { return true; }
};

}  // namespace

}  // namespace linuxfs

std::shared_ptr<FileSystem> MakeFileSystem() {
    return std::make_shared<linuxfs::LinuxFileSystem>();
}

}  // namespace packmeter

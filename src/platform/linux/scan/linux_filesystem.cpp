#include <fcntl.h>
#include <sys/stat.h>

#include "platform/linux/scan/linux_folder.hpp"
#include "platform/linux/scan/ntfs3g_rewrite.hpp"
#include "platform/linux/scan/open_path.hpp"
#include "platform/linux/scan/scratch_folder.hpp"
#include "platform/linux/scan/volume.hpp"
#include "platform/system.hpp"

namespace packmeter {

namespace linuxfs {

namespace {

class LinuxFileSystem final : public FileSystem {
  public:
    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        // The starting folder is taken as given, links included; below it nothing is followed.
        std::unique_ptr<LinuxFolder> folder =
            LinuxFolder::Create(OpenPath(path, O_RDONLY | O_DIRECTORY), nullptr);
        if (folder && choice_) {
            folder->SetChoice(choice_);
        }
        return folder;
    }

    void SetCompressionChoice(const CompressionChoice& choice) override {
        choice_ = std::make_shared<const CompressionChoice>(choice);
    }

    VolumeInfo GetVolumeInfo(const std::string& path) override {
        // A readable descriptor lets the btrfs probe run. Only folders and regular files are
        // opened for reading (a FIFO would block, a device might react); anything else, or
        // anything unreadable, is reached without opening it, which still names its mount.
        UniqueFd fd = OpenPath(path, O_RDONLY | O_DIRECTORY);
        if (!fd) {
            // A dangling link lies on the volume of its own folder.
            fd = OpenPath(path, O_PATH);
            if (!fd) {
                fd = OpenPath(path, O_PATH | O_NOFOLLOW);
            }
            struct stat st;
            if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
                if (UniqueFd file =
                        OpenPath(ProcFdPath(fd.get()), O_RDONLY | O_NONBLOCK | O_NOCTTY)) {
                    fd = std::move(file);
                }
            }
        }
        return fd ? DescribeVolume(fd.get()) : VolumeInfo{};
    }

    bool CompressionAvailable() const override { return true; }

    // Only a rewrite (NTFS) leaves scratch folders; they lie beside the file they belong to.
    void RecoverInterruptedSwitches(const std::string& path) override {
        std::string trimmed = path;
        while (trimmed.size() > 1 && trimmed.back() == '/') {
            trimmed.pop_back();
        }
        const auto slash = trimmed.rfind('/');
        const std::string parent = slash == std::string::npos ? "." : trimmed.substr(0, slash + 1);
        for (const std::string& folder : {parent, trimmed}) {
            if (const UniqueFd fd = OpenPath(folder, O_RDONLY | O_DIRECTORY)) {
                RecoverScratchFolders(fd.get());
            }
        }
    }

    void SetAbandonFlag(const std::atomic<bool>* flag) override { SetRewriteAbandonFlag(flag); }

    std::vector<std::string> InterruptedSwitches(const std::string& folder) override {
        const UniqueFd fd = OpenPath(folder, O_RDONLY | O_DIRECTORY);
        return fd ? linuxfs::InterruptedSwitches(fd.get()) : std::vector<std::string>{};
    }

  private:
    std::shared_ptr<const CompressionChoice> choice_;
};

}  // namespace

}  // namespace linuxfs

std::shared_ptr<FileSystem> MakeFileSystem() {
    return std::make_shared<linuxfs::LinuxFileSystem>();
}

}  // namespace packmeter

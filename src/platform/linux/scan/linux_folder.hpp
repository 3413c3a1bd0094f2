#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/fs/filesystem.hpp"
#include "platform/linux/scan/unique_fd.hpp"
#include "platform/linux/scan/volume.hpp"

namespace packmeter::linuxfs {

// An open folder: a directory descriptor and what is known about its file system. Listing,
// opening sub-folders and switching compression all work relative to the descriptor.
class LinuxFolder final : public Folder {
  public:
    // The folder open at `fd`; `parent`, when given, is the folder it was opened from, whose
    // volume details are reused when both lie on the same mount.
    static std::unique_ptr<LinuxFolder> Create(UniqueFd fd, const LinuxFolder* parent);
    LinuxFolder(UniqueFd fd, FolderVolume volume) : fd_(std::move(fd)), volume_(volume) {}

    bool List(ListDetail detail, const EntryVisitor& visit) override;
    std::unique_ptr<Folder> OpenSubfolder(std::string_view name) override;
    bool SetCompression(bool decompress) override;
    bool SetFileCompression(std::string_view name, bool decompress) override;
    std::string LastFailure() const override { return failure_; }

  private:
    bool ListFrom(int fd, ListDetail detail, const EntryVisitor& visit);
    void SyncOnce();
    bool Fail(std::string reason);
    void RecoverOnce();

    UniqueFd fd_;
    FolderVolume volume_;
    bool listing_ = false;
    bool synced_ = false;
    bool recovered_ = false;
    std::string failure_;
};

}  // namespace packmeter::linuxfs

#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "platform/linux/scan/dir_reader.hpp"
#include "platform/linux/scan/entry_stat.hpp"
#include "platform/linux/scan/unique_fd.hpp"
#include "platform/linux/scan/volume.hpp"

namespace packmeter::linuxfs {

// An open folder: a directory descriptor and what is known about its file system. Listing,
// opening sub-folders and switching compression all work relative to the descriptor.
class LinuxFolder final : public Folder {
  public:
    // The folder open at `fd`; `parent`, when given, is the folder it was opened from, whose
    // volume details are reused when both lie on the same mount.
    // `known`, when given, is where the folder lies as its parent's listing found it, which
    // spares asking again; without it a folder on another mount than `parent` is refused.
    static std::unique_ptr<LinuxFolder> Create(UniqueFd fd, const LinuxFolder* parent,
                                               const MountIdentity* known = nullptr);
    LinuxFolder(UniqueFd fd, FolderVolume volume) : fd_(std::move(fd)), volume_(volume) {}

    bool List(ListDetail detail, const EntryVisitor& visit) override;
    std::unique_ptr<Folder> OpenSubfolder(std::string_view name) override;
    bool SetCompression(bool decompress) override;
    bool SetFileCompression(std::string_view name, bool decompress) override;
    std::string LastFailure() const override { return failure_; }
    std::unique_ptr<FileReader> OpenFile(std::string_view name) override;
    // How files are compressed; passed on to the sub-folders opened from this one.
    void SetChoice(std::shared_ptr<const CompressionChoice> choice) { choice_ = std::move(choice); }

  private:
    // A sub-folder of the last listing and where it lies.
    struct SeenFolder {
        std::string name;
        MountIdentity where;
    };
    const MountIdentity* FindSeen(std::string_view name);

    bool ListFrom(int fd, bool rewind, ListDetail detail, const EntryVisitor& visit);
    void StatBatch(int fd, ListDetail detail, std::span<const DirName> names,
                   std::span<StatRecord> records) const;
    void SyncOnce();
    bool Fail(std::string reason);
    bool BelowThreshold(std::string_view name);
    void RecoverOnce();

    UniqueFd fd_;
    FolderVolume volume_;
    bool listing_ = false;
    bool listedBefore_ = false;
    // The sub-folders of the last listing in listing order, which walks open in the same
    // order: `seenNext_` guesses the next one. Listing again while other threads open
    // sub-folders is not allowed; opening from several threads at once is.
    std::vector<SeenFolder> seen_;
    std::atomic<std::size_t> seenNext_{0};
    bool synced_ = false;
    bool recovered_ = false;
    std::string failure_;
    std::shared_ptr<const CompressionChoice> choice_;
};

}  // namespace packmeter::linuxfs

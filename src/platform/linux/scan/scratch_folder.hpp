#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

// True for a folder in which a file rewrite works: named ".packmeter-PID-N" and holding the
// marker the rewrite writes first (a fixed line, a random token, the owner's process id and
// start time). Listings hide such folders, whether their process still runs or not: what is
// inside is a copy or a file on its way back to its name, never data of its own. A folder of
// the user's with such a name but no marker is an ordinary folder.
bool IsScratchFolder(int dirFd, std::string_view name);

// What a rewrite notes in its scratch folder before it moves anything, so that a later command
// can finish or undo the switch when the process was killed: the file's name, its DOS 8.3 name
// and times (kept for older records; the copy carries its times) and the inode of the copy.
struct ScratchState {
    std::string name;
    std::optional<std::string> dosName;
    std::optional<std::string> times;
    unsigned long long copyInode = 0;
};

// A folder beside the file being rewritten, ".packmeter-PID-N". It holds its marker ("owner"),
// the copy ("data"),
// the state above ("state") and, during the switch, the original moved aside ("original").
// Leaving scope removes the copy, the state and the folder, but never anything else: a folder
// that still holds another file stays, for RecoverScratchFolders of a later process.
class ScratchFolder {
  public:
    static constexpr const char* kCopy = "data";
    static constexpr const char* kOriginal = "original";
    // The empty file by which a rewrite measures how a rename changes the link count, under
    // its first and its second name.
    static constexpr const char* kProbe = "probe";
    static constexpr const char* kProbed = "probed";
    static constexpr const char* kReplaced = "replaced";
    // Empty files made for a moment to push the copy out of the driver's inode cache: "evict-N".
    static constexpr const char* kEvictPrefix = "evict-";

    explicit ScratchFolder(int parentFd);
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    // The folder's descriptor; invalid when it could not be made (errno tells why).
    int Fd() const { return fd_.get(); }
    explicit operator bool() const { return static_cast<bool>(fd_); }
    const std::string& Name() const { return name_; }
    bool WriteState(const ScratchState& state) const;

  private:
    int parentFd_;
    std::string name_;
    UniqueFd fd_;
};

// Gives the file `from` of the folder `fromFd` the name `name` in `dirFd` by a hard link, which
// never replaces anything, then drops `from` (a folder is moved, by a rename that never replaces
// anything either). When the name is taken, the file gets a free
// name beside it ("NAME.packmeter-kept", "NAME.packmeter-kept-2", ...) instead. Returns the name
// it got, or nothing when it could not be linked at all (it then stays where it was).
std::optional<std::string> LinkBack(int fromFd, const char* from, int dirFd,
                                    const std::string& name);

// Finishes or undoes the switches of processes that no longer run, whose scratch folders are in
// the open folder `dirFd`: an original moved aside goes back to its name (or beside it when the
// name is taken by another file meanwhile), a finished switch gets its DOS name, and
// the scratch folder is removed. Folders of running processes are left alone.
void RecoverScratchFolders(int dirFd);

// Read-only: the names of the files in the open folder `dirFd` whose switch a process that no
// longer runs left half-done.
std::vector<std::string> InterruptedSwitches(int dirFd);

}  // namespace packmeter::linuxfs

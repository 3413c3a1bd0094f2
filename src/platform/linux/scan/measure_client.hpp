#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/linux/scan/btrfs_extents.hpp"
#include "platform/linux/scan/measure_protocol.hpp"
#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

// The program's end of a connection to the measuring helper. Safe to share between threads:
// one request at a time.
class MeasureConnection {
  public:
    explicit MeasureConnection(UniqueFd socket) : socket_(std::move(socket)) {}

    // Whether the helper answers at all (it may still be asking for authorisation).
    bool Hello();
    // The extent figures of the regular files `inodes` (ascending, no duplicates) listed in the
    // open folder `folderFd`; kOk, the helper's refusal, or kLost when it does not answer.
    measure::Status Measure(int folderFd, std::span<const std::uint64_t> inodes,
                            std::span<FileExtentUsage> usage);
    bool Lost() const { return lost_; }

  private:
    measure::Status Exchange(measure::Kind kind, int folderFd,
                             std::span<const std::uint64_t> inodes,
                             std::span<FileExtentUsage> usage);

    std::mutex lock_;
    UniqueFd socket_;
    bool lost_ = false;
};

// The measuring helper of this program run: started through pkexec the first time a btrfs
// folder is measured without CAP_SYS_ADMIN, kept until the program ends (it exits on its own
// when idle, and is started again when needed then).
class MeasureHelper {
  public:
    static MeasureHelper& Instance();

    // Turns the helper off for this run (packmeter-cli --no-helper).
    void Disable();
    // Starts the helper if needed; false when it cannot be used, with the reason in Notice().
    bool Available();
    // Why exact btrfs sizes are not shown, in plain words for the user; empty while the helper
    // is available or was never needed.
    std::string Notice();
    // SearchFileExtents through the helper: kDone, kFailed when it refused this folder, or
    // kNotPermitted when the helper is gone for good.
    ExtentSearch Search(int folderFd, std::span<const std::uint64_t> inodes,
                        std::span<FileExtentUsage> usage);

    // Where the helper is looked for: $PACKMETER_MEASURE_HELPER, else its installed place.
    static std::string HelperPath();

  private:
    MeasureHelper() = default;
    bool StartLocked();

    std::mutex lock_;
    std::shared_ptr<MeasureConnection> connection_;
    bool disabled_ = false;
    bool failed_ = false;
    pid_t pid_ = -1;
    std::string notice_;
};

}  // namespace packmeter::linuxfs

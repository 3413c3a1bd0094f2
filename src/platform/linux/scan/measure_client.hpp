#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/scan/btrfs_extents.hpp"
#include "platform/linux/scan/measure_protocol.hpp"
#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

// The figures of the files of one folder, by inode number (ascending).
struct FolderFigures {
    measure::Status status = measure::Status::kLost;
    std::vector<std::uint64_t> inodes;
    std::vector<FileExtentUsage> usage;
};

// The program's end of a connection to the measuring helper. Several threads may use it at
// once: requests go out in turn, and each waits for its own reply (the helper answers in
// order; whoever reads a reply meant for another thread leaves it for that one).
class MeasureConnection {
  public:
    explicit MeasureConnection(UniqueFd socket) : socket_(std::move(socket)) {}

    // Whether the helper answers at all (it may still be asking for authorisation).
    bool Hello();
    // The extent figures of the regular files `inodes` (ascending, no duplicates) listed in the
    // open folder `folderFd`; kOk, the helper's refusal, or kLost when it does not answer.
    measure::Status Measure(int folderFd, std::span<const std::uint64_t> inodes,
                            std::span<FileExtentUsage> usage);
    // Asks for the figures of every regular file of the open folder `folderFd`, to be taken
    // with Take (exactly once) while the caller reads the folder itself. 0 when it could not
    // be sent.
    std::uint64_t Send(int folderFd);
    FolderFigures Take(std::uint64_t ticket);
    bool Lost() const;

  private:
    struct Reply {
        measure::Status status = measure::Status::kLost;
        std::vector<std::uint64_t> inodes;
        std::vector<FileExtentUsage> usage;
    };
    std::uint64_t SendLocked(measure::Kind kind, int folderFd,
                             std::span<const std::uint64_t> inodes);
    Reply Wait(std::uint64_t ticket);
    Reply ReadReply(measure::Kind kind, std::size_t expected);
    // Reads `size` bytes of the helper's replies, through a buffer (only the reading thread).
    bool Receive(std::byte* into, std::size_t size);
    void LoseLocked();

    mutable std::mutex lock_;
    std::condition_variable arrived_;
    UniqueFd socket_;
    bool lost_ = false;
    bool reading_ = false;
    std::uint64_t sent_ = 0;  // tickets are 1, 2, ... in the order sent
    std::uint64_t read_ = 0;  // replies read so far
    // The kind and expected count of each request sent but not yet answered, in order.
    std::deque<std::pair<measure::Kind, std::size_t>> pending_;
    std::map<std::uint64_t, Reply> ready_;  // replies read for a thread that has not taken them
    // Received, not yet parsed: inbox_[inboxAt_, inboxEnd_).
    static constexpr std::size_t kInboxBytes = 256 * 1024;
    std::unique_ptr<std::byte[]> inbox_;
    std::size_t inboxAt_ = 0;
    std::size_t inboxEnd_ = 0;
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
    // The figures of every regular file of the open folder `folderFd`: Begin sends the
    // request, the Pending's Finish takes the reply (its destructor, if Finish was not called).
    class Pending {
      public:
        Pending() = default;
        Pending(std::shared_ptr<MeasureConnection> connection, std::uint64_t ticket)
            : connection_(std::move(connection)), ticket_(ticket) {}
        Pending(Pending&& other) noexcept
            : connection_(std::move(other.connection_)), ticket_(std::exchange(other.ticket_, 0)) {}
        Pending& operator=(Pending&& other) noexcept;
        Pending(const Pending&) = delete;
        Pending& operator=(const Pending&) = delete;
        ~Pending();
        bool Sent() const { return ticket_ != 0; }
        // kOk with the figures, the helper's refusal, or kLost.
        FolderFigures Finish();

      private:
        std::shared_ptr<MeasureConnection> connection_;
        std::uint64_t ticket_ = 0;
    };
    // Sends the request; a Pending that was not sent when the helper is not available.
    Pending Begin(int folderFd);

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

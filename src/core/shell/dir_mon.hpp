#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace packmeter {

// The kinds of change a directory monitor reports.
enum TDirMonValue {
    dmcFileName = 0,
    dmcDirName = 1,
    dmcAttributes = 2,
    dmcSize = 3,
    dmcLastWrite = 4,
    dmcSecurity = 5,
};

// The change-notification flags the kinds stand for, as Windows numbers them; the Linux watch
// maps them to its own events.
inline constexpr std::uint32_t kNotifyFileName = 0x1;
inline constexpr std::uint32_t kNotifyDirName = 0x2;
inline constexpr std::uint32_t kNotifyAttributes = 0x4;
inline constexpr std::uint32_t kNotifySize = 0x8;
inline constexpr std::uint32_t kNotifyLastWrite = 0x10;
inline constexpr std::uint32_t kNotifySecurity = 0x100;

// A set of change kinds.
class TDirMonType {
  public:
    TDirMonType() = default;
    TDirMonType(std::initializer_list<TDirMonValue> values);

    bool Contains(TDirMonValue value) const { return (bits_ >> value) & 1u; }
    bool operator==(const TDirMonType&) const = default;

    std::uint32_t PlatformFlags() const;
    // The kinds whose flags are all in `flags`; other bits are ignored.
    static TDirMonType FromPlatformFlags(std::uint32_t flags);

  private:
    std::uint8_t bits_ = 0;
};

// A running watch of one directory; destroying it stops its thread and waits for it to end.
class ChangeWatch {
  public:
    virtual ~ChangeWatch() = default;
};

// Starts watches of directories on the platform's change notification. `changed` runs on the
// watch's own thread, once for one or several changes close together; `failed` runs there once
// the watch can no longer see every change (the folder cannot be watched, the system's limit
// of watches is reached, the folder went away), with the reason.
class ChangeWatcher {
  public:
    virtual ~ChangeWatcher() = default;
    virtual std::unique_ptr<ChangeWatch> Start(const std::string& directory, std::uint32_t flags,
                                               bool subtree, std::function<void()> changed,
                                               std::function<void(std::string)> failed) = 0;
};

// Runs a function later on the thread that owns the monitor (the window's thread).
using PostToOwner = std::function<void(std::function<void()>)>;

// Watches one directory and tells its owner, on the owner's thread, when it changes. A watch
// runs from StartMonitoring (or a new Directory) to StopMonitoring, a new NotifyFilter or the
// monitor's end; nothing a stopped watch reported reaches a handler afterwards. Start, stop and
// the handlers belong to the owner's thread.
class TDirMon {
  public:
    using Notify = std::function<void(TDirMon& sender)>;

    TDirMon(std::shared_ptr<ChangeWatcher> watcher, PostToOwner post);
    ~TDirMon();
    TDirMon(const TDirMon&) = delete;
    TDirMon& operator=(const TDirMon&) = delete;

    const std::string& Directory() const { return directory_; }
    // A trailing separator is dropped unless the path is 3 characters or fewer (a drive or the
    // root); the same path as before changes nothing, another one restarts the watch.
    void SetDirectory(std::string path);
    TDirMonType NotifyFilter() const { return TDirMonType::FromPlatformFlags(filter_); }
    // Stops a running watch; the next start uses the new kinds.
    void SetNotifyFilter(TDirMonType filter);
    bool Nested() const { return nested_; }
    // Also watch every sub-folder, those made later included; from the next start on.
    void SetNested(bool nested) { nested_ = nested; }

    // Throws std::runtime_error("TDirMon: CreateThread failed") when no thread can be started.
    void StartMonitoring();
    void StopMonitoring();
    bool Monitoring() const { return watch_ != nullptr; }
    // Why the running watch no longer sees every change; empty while it does.
    const std::string& LastFailure() const { return failure_; }

    Notify OnDirChange;
    Notify OnMonitorStart;
    Notify OnMonitorStop;
    // Our addition: the running watch can no longer see every change (LastFailure says why).
    Notify OnMonitorFailure;

  protected:
    virtual void DirChanged();
    virtual void MonitorStarted();
    virtual void MonitorStopped();

  private:
    void Halt();

    std::shared_ptr<ChangeWatcher> watcher_;
    PostToOwner post_;
    std::string directory_;
    std::uint32_t filter_ = kNotifyFileName;
    bool nested_ = false;
    std::unique_ptr<ChangeWatch> watch_;
    // Shared with the notices of the running watch; a notice whose token has been replaced or
    // dropped is from a stopped watch and is ignored.
    std::shared_ptr<int> token_;
    std::string failure_;
};

}  // namespace packmeter

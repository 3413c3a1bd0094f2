#include "core/shell/dir_mon.hpp"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace packmeter {

namespace {

constexpr std::uint32_t kFlagOf[] = {kNotifyFileName, kNotifyDirName,   kNotifyAttributes,
                                     kNotifySize,     kNotifyLastWrite, kNotifySecurity};

}  // namespace

TDirMonType::TDirMonType(std::initializer_list<TDirMonValue> values) {
    for (const TDirMonValue value : values) {
        bits_ |= static_cast<std::uint8_t>(1u << value);
    }
}

std::uint32_t TDirMonType::PlatformFlags() const {
    std::uint32_t flags = 0;
    for (int value = dmcFileName; value <= dmcSecurity; ++value) {
        if (Contains(TDirMonValue(value))) {
            flags |= kFlagOf[value];
        }
    }
    return flags;
}

TDirMonType TDirMonType::FromPlatformFlags(std::uint32_t flags) {
    TDirMonType set;
    for (int value = dmcFileName; value <= dmcSecurity; ++value) {
        if (flags & kFlagOf[value]) {
            set.bits_ |= static_cast<std::uint8_t>(1u << value);
        }
    }
    return set;
}

TDirMon::TDirMon(std::shared_ptr<ChangeWatcher> watcher, PostToOwner post)
    : watcher_(std::move(watcher)), post_(std::move(post)) {}

TDirMon::~TDirMon() {
    // Ends the watch without telling anyone: the owner is going away.
    Halt();
}

void TDirMon::SetDirectory(std::string path) {
    if (path.size() > 3 && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    if (path == directory_) {
        return;
    }
    StopMonitoring();
    directory_ = std::move(path);
    StartMonitoring();
}

void TDirMon::SetNotifyFilter(TDirMonType filter) {
    StopMonitoring();
    filter_ = filter.PlatformFlags();
}

void TDirMon::StartMonitoring() {
    StopMonitoring();
    if (directory_.empty()) {
        return;
    }
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> alive = token;
    // The watch's thread only posts; whatever runs, runs on the owner's thread and checks first
    // that the watch that posted it is still the running one.
    auto changed = [this, alive, post = post_] {
        post([this, alive] {
            if (alive.lock()) {
                DirChanged();
            }
        });
    };
    auto failed = [this, alive, post = post_](std::string reason) {
        post([this, alive, reason = std::move(reason)] {
            if (alive.lock()) {
                failure_ = reason;
                if (OnMonitorFailure) {
                    OnMonitorFailure(*this);
                }
            }
        });
    };
    try {
        watch_ =
            watcher_->Start(directory_, filter_, nested_, std::move(changed), std::move(failed));
    } catch (const std::system_error&) {
        throw std::runtime_error("TDirMon: CreateThread failed");
    }
    if (!watch_) {
        throw std::runtime_error("TDirMon: CreateThread failed");
    }
    token_ = std::move(token);
    failure_.clear();
    MonitorStarted();
}

void TDirMon::StopMonitoring() {
    if (!watch_) {
        return;
    }
    Halt();
    MonitorStopped();
}

void TDirMon::Halt() {
    watch_.reset();  // joins the watch's thread
    token_.reset();
    failure_.clear();
}

void TDirMon::DirChanged() {
    if (!OnDirChange) {
        return;
    }
    // A failing handler must not end the watching.
    try {
        OnDirChange(*this);
    } catch (...) {
    }
}

void TDirMon::MonitorStarted() {
    if (OnMonitorStart) {
        OnMonitorStart(*this);
    }
}

void TDirMon::MonitorStopped() {
    if (OnMonitorStop) {
        OnMonitorStop(*this);
    }
}

}  // namespace packmeter

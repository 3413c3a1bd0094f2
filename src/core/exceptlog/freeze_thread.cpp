#include "core/exceptlog/freeze_thread.hpp"

#include <chrono>

namespace packmeter {

void TFreezeThread::Start(int timeoutSeconds, TFreezeHooks hooks) {
    if (Running()) {
        return;
    }
    hooks_ = std::move(hooks);
    stop_ = false;
    thread_ = std::thread([this, timeoutSeconds] { Run(timeoutSeconds * 1000); });
}

void TFreezeThread::Stop() {
    if (!Running()) {
        return;
    }
    {
        const std::lock_guard lock(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool TFreezeThread::StopRequested(int milliseconds) {
    std::unique_lock lock(lock_);
    return wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stop_; });
}

void TFreezeThread::Run(int timeoutMilliseconds) {
    while (!hooks_.FindMainWindow()) {
        if (StopRequested(kProbeMilliseconds)) {
            return;
        }
    }
    int unanswered = 0;
    while (!StopRequested(0)) {
        if (!hooks_.Probe(kProbeMilliseconds) && hooks_.WindowExists() && !hooks_.ReportBusy()) {
            unanswered += kProbeMilliseconds;
            if (unanswered >= timeoutMilliseconds) {
                hooks_.Report();
                unanswered = 0;
            }
            continue;
        }
        unanswered = 0;
        for (int i = 0; i < 5; ++i) {
            if (StopRequested(kProbeMilliseconds)) {
                return;
            }
        }
    }
}

}  // namespace packmeter

namespace packmeter {

namespace {
std::mutex gProbeLock;
TMainWindowProbe gProbe;
}  // namespace

void SetMainWindowProbe(TMainWindowProbe probe) {
    const std::lock_guard lock(gProbeLock);
    gProbe = std::move(probe);
}

bool HasMainWindowProbe() {
    const std::lock_guard lock(gProbeLock);
    return static_cast<bool>(gProbe);
}

bool ProbeMainWindow(int milliseconds) {
    const std::lock_guard lock(gProbeLock);
    return !gProbe || gProbe(milliseconds);
}

}  // namespace packmeter

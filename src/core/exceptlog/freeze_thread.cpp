#include "core/exceptlog/freeze_thread.hpp"

#include <chrono>
#include <cstdlib>

#include "core/exceptlog/fault_capture.hpp"
#include "core/exceptlog/fault_logger.hpp"

namespace packmeter {

void TFreezeThread::Start(int timeoutSeconds, FaultCapturePlatform& platform) {
    if (Running()) {
        return;
    }
    platform_ = &platform;
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

bool TFreezeThread::FindMainWindow() {
    return WindowHasProbe() || platform_->FindMainWindow();
}

bool TFreezeThread::Probe(int milliseconds) {
    return WindowHasProbe() ? ProbeWindow(milliseconds) : platform_->ProbeMainWindow(milliseconds);
}

bool TFreezeThread::WindowExists() {
    return WindowHasProbe() || platform_->MainWindowExists();
}

void TFreezeThread::Run(int timeoutMilliseconds) {
    while (!FindMainWindow()) {
        if (StopRequested(kProbeMilliseconds)) {
            return;
        }
    }
    int unanswered = 0;
    while (!StopRequested(0)) {
        // The time another report takes does not count.
        if (!Probe(kProbeMilliseconds) && WindowExists() && !FaultBusy()) {
            unanswered += kProbeMilliseconds;
            if (unanswered >= timeoutMilliseconds) {
                ReportFrozenMainThread();
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

namespace {

TFreezeThread gFreezeThread;
FaultCapturePlatform* gWatchedPlatform = nullptr;

void SwitchWatchdog(bool run) {
    const auto* options = CurrentFaultLogOptions();
    if (!run || !options || !gWatchedPlatform) {
        gFreezeThread.Stop();
        return;
    }
    gFreezeThread.Start(options->FreezeTimeout, *gWatchedPlatform);
}

}  // namespace

void StartFaultWatchdog(FaultCapturePlatform& platform) {
    gWatchedPlatform = &platform;
    auto* options = CurrentFaultLogOptions();
    if (!options) {
        return;
    }
    options->SetWatchdogSwitch(SwitchWatchdog);
    SwitchWatchdog(options->Active() && options->FreezeActive());
    std::atexit([] { gFreezeThread.Stop(); });
}

}  // namespace packmeter

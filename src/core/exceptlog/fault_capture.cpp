#include "core/exceptlog/fault_capture.hpp"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "core/exceptlog/fault_email.hpp"
#include "core/exceptlog/fault_log_error.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/exceptlog/freeze_thread.hpp"

namespace packmeter {

namespace {

// The longest a faulting thread waits for its report: a fault inside the C library (a damaged
// heap, say) may leave a lock held that the report needs, and the process must end rather
// than hang.
constexpr int kMostReportMilliseconds = 20000;

FaultCapturePlatform* gPlatform = nullptr;
FaultCapturePlatform* gThreadPlatform = nullptr;
bool gWindowed = false;
std::atomic<std::uint64_t> gOwner{0};
std::atomic<std::uint64_t> gReporter{0};
// Whether the logger's thread made the last report (not filtered, not inactive).
std::atomic<bool> gReported{false};
std::atomic<bool> gContinues{false};
// The dialog of the last report, shown by the thread that met the error.
std::optional<FaultDialogData> gPendingDialog;

std::mutex gWindowLock;
FaultWindow* gWindow = nullptr;

void ReporterLoop() {
    gReporter = gPlatform->CurrentThread();
    while (gPlatform->WaitForRequest()) {
        FaultTrace().Enter("Report", {TraceValue::Text(gPlatform->RecordedType()),
                                      TraceValue::Integer(gPlatform->RecordedCode())});
        gReported = gPlatform->MakeReport();
        // After a fault the process ends: the mail of the program's end goes now.
        if (gReported && !gContinues) {
            SendPendingMail(gPlatform->Mail());
        }
        FaultTrace().Exit("Report", {TraceValue::Boolean(gReported)});
        FaultTrace().Save();
        gPlatform->ReportDone();
    }
}

void HandOver() {
    gPlatform->WakeReporter();
    gPlatform->WaitForReport(kMostReportMilliseconds);
}

// Shows the dialog of the report just made, when there is one; a terminate request ends the
// process (after starting it again when the dialog offered a restart).
void ShowPendingDialog() {
    if (!gPendingDialog) {
        return;
    }
    const FaultDialogData data = std::move(*gPendingDialog);
    gPendingDialog.reset();
    if (PresentFaultDialog(data)) {
        if (data.RestartOnTerminate) {
            gPlatform->Restart();
        }
        FaultTrace().Save();
        gPlatform->EndProcess(1);
    }
}

}  // namespace

void SetFaultWindow(FaultWindow* window) {
    const std::lock_guard lock(gWindowLock);
    gWindow = window;
}

void NoteFaultDialog(const FaultDialogData& data) {
    gPendingDialog = data;
}

bool PresentFaultDialog(const FaultDialogData& data) {
    FaultDialogResult result = FaultDialogResult::kNotShown;
    bool windowed = false;
    {
        const std::lock_guard lock(gWindowLock);
        if (gWindow) {
            windowed = true;
            result = gWindow->ShowDialog(data);
        }
    }
    if (result == FaultDialogResult::kNotShown) {
        // No window could be shown: the message goes where a console program's report goes.
        if (!windowed) {
            std::cerr << data.Caption << ' ' << data.ShortMessage << '\n';
        }
        const std::string line =
            FaultWarningLine(flShowError, "GUI", "Cannot show the DialogBox window.");
        std::cerr << line << '\n';
        FaultTrace().Note(line);
    }
    return result == FaultDialogResult::kTerminate;
}

bool WindowHasProbe() {
    const std::lock_guard lock(gWindowLock);
    return gWindow && gWindow->HasProbe();
}

bool ProbeWindow(int milliseconds) {
    const std::lock_guard lock(gWindowLock);
    return !gWindow || gWindow->Probe(milliseconds);
}

FaultCapturePlatform* CurrentCapturePlatform() {
    return gThreadPlatform;
}

void SetCapturePlatformForThreads(FaultCapturePlatform* platform) {
    gThreadPlatform = platform;
}

void StartFaultCapture(FaultCapturePlatform& platform, bool windowed) {
    gPlatform = &platform;
    gThreadPlatform = &platform;
    gWindowed = windowed;
    std::thread(ReporterLoop).detach();
    StartFaultWatchdog(platform);
}

bool FaultWindowed() {
    return gWindowed;
}

bool FaultRecordContinues() {
    return gContinues;
}

void TakeFaultBusyFlag(int fault) {
    const std::uint64_t self = gPlatform->CurrentThread();
    if (self == gReporter.load()) {
        gPlatform->EndInsideLogger(fault);
    }
    for (std::uint64_t expected = 0; !gOwner.compare_exchange_strong(expected, self);
         expected = 0) {
        if (expected == self) {
            gPlatform->EndInsideLogger(fault);
        }
        gPlatform->PauseBriefly();
    }
    gContinues = false;
}

void ReleaseFaultBusyFlag() {
    gOwner = 0;
}

bool FaultBusy() {
    return gOwner.load() != 0;
}

void ReportFaultAndEnd() {
    HandOver();
    ShowPendingDialog();
    gPlatform->EndProcess(1);
    std::_Exit(1);  // not reached: a virtual call's [[noreturn]] is not seen by the compiler
}

void ReportFrozenMainThread() {
    const auto* options = CurrentFaultLogOptions();
    TakeFaultBusyFlag(0);
    if (gPlatform->SuspendMainThread(options ? options->FreezeMessage : std::string{})) {
        HandOver();
        // The dialog's windows would wait for the main thread's answers: it goes on first.
        gPlatform->ResumeMainThread();
        ShowPendingDialog();
    }
    ReleaseFaultBusyFlag();
}

bool FaultLogExceptionManager() {
    // An exception in an event handler run while this thread's error dialog is open is left to
    // the program's own message.
    if (!gPlatform || gOwner.load() == gPlatform->CurrentThread()) {
        return true;
    }
    TakeFaultBusyFlag(0);
    gPlatform->RecordCurrentException();
    gContinues = true;
    HandOver();
    const bool reported = gReported;
    ShowPendingDialog();
    ReleaseFaultBusyFlag();
    return !reported;
}

}  // namespace packmeter

#include "core/exceptlog/fault_capture.hpp"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "core/exceptlog/fault_email.hpp"
#include "core/exceptlog/fault_log_error.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "core/exceptlog/fault_report.hpp"
#include "core/exceptlog/fault_threads.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/exceptlog/freeze_thread.hpp"
#include "core/utils/program_thread.hpp"

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
// The thread the logger was installed from: the window's thread in a window program.
std::uint64_t gMainThread = 0;
// A fatal fault of the window's thread, whose dialog that thread shows once out of its handler.
std::atomic<bool> gFaultInMainThread{false};
// The logger's thread shows the dialog of a fatal fault: the faulting thread waits on.
std::atomic<bool> gDialogOnLogger{false};
std::atomic<bool> gDialogShown{false};
// The dialog of the last report, and the message of a filtered exception, for the flow to show.
std::optional<FaultDialogData> gPendingDialog;
std::optional<std::pair<std::string, std::string>> gPendingFilterMessage;

std::mutex gWindowLock;
FaultWindow* gWindow = nullptr;

void ShowPendingDialog();
void SendPendingMailGuarded();

// A failure of the logger itself while it reports: the line of the internal error goes to
// stderr and the trace, and the trace is written.
void ReportInternalError(std::string_view message) {
    const std::string line = FaultInternalErrorLine(FaultReportStep(), message);
    std::cerr << line << '\n';
    FaultTrace().Note(line);
    FaultTrace().Save();
}

void ReporterLoop(std::promise<void>* started) {
    gReporter = gPlatform->CurrentThread();
    started->set_value();
    while (gPlatform->WaitForRequest()) {
        const bool fatal = !gContinues;
        try {
            FaultTrace().Enter("Report", {TraceValue::Text(gPlatform->RecordedType()),
                                          TraceValue::Integer(gPlatform->RecordedCode())});
            SetFaultReportStep(4);
            gReported = gPlatform->MakeReport();
            FaultTrace().Exit("Report", {TraceValue::Boolean(gReported)});
            FaultTrace().Save();
        } catch (const std::exception& error) {
            gReported = false;
            ReportInternalError(error.what());
        } catch (...) {
            gReported = false;
            ReportInternalError("");
        }
        // The dialog of a fatal fault, where the faulting thread waits in a signal handler:
        // shown from here unless the fault is the window thread's own, which alone can show it.
        const bool dialogHere = fatal && gPlatform->DialogsOnLoggerThread() && !gFaultInMainThread;
        const bool dialogThere = fatal && gPlatform->DialogsOnLoggerThread() &&
                                 gFaultInMainThread && gPendingDialog.has_value();
        const bool windowThreadEnds = fatal && gPlatform->DialogsOnLoggerThread() &&
                                      gFaultInMainThread &&
                                      (gPendingDialog || gPendingFilterMessage);
        if (dialogHere && (gPendingDialog || gPendingFilterMessage)) {
            gDialogOnLogger = true;
            ShowPendingDialog();
        }
        // After a fault the process ends: the mail of the program's end goes now, after the
        // dialog where this thread showed it (its question is asked in the window too), and
        // from the window's thread where that thread ends the process after its own dialog.
        if (gReported && fatal && !windowThreadEnds) {
            SendPendingMailGuarded();
        }
        gPlatform->ReportDone();
        // The window's thread shows its own dialog once out of its signal handler; when it does
        // not get it on the screen in time (a damaged heap, a lock it holds itself) the process
        // ends from here.
        if (dialogThere) {
            for (int waited = 0; !gDialogShown && waited < kMostDialogWaitMilliseconds;
                 waited += 50) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (!gDialogShown) {
                const std::string line = FaultWarningLine(
                    flShowError, "GUI", "The DialogBox window did not appear in time.");
                std::cerr << line << '\n';
                FaultTrace().Note(line);
                FaultTrace().Save();
                gPlatform->EndProcess(1);
            }
        }
    }
}

// The pending mail; a failure while sending is the logger's own.
void SendPendingMailGuarded() {
    try {
        SendHeldReportMail(gPlatform->Mail());
        SendPendingMail(gPlatform->Mail());
    } catch (const std::exception& error) {
        ReportInternalError(error.what());
    } catch (...) {
        ReportInternalError("");
    }
}

// The held mail of the report just made (the program goes on, so a mode-1 mail still waits).
void SendHeldMailGuarded() {
    try {
        SendHeldReportMail(gPlatform->Mail());
    } catch (const std::exception& error) {
        ReportInternalError(error.what());
    } catch (...) {
        ReportInternalError("");
    }
}

void HandOver() {
    gPlatform->WakeReporter();
    gPlatform->WaitForReport(kMostReportMilliseconds);
}

// Shows the message of a filtered exception and the dialog of the report just made, when there
// are; a terminate request ends the process (after mailing a pending report and starting the
// program again when the dialog offered a restart).
void ShowPendingDialog() {
    if (gPendingFilterMessage) {
        const auto [caption, message] = std::move(*gPendingFilterMessage);
        gPendingFilterMessage.reset();
        bool shown = false;
        {
            const std::lock_guard lock(gWindowLock);
            shown = gWindow && gWindow->Inform(caption, message);
        }
        if (!shown) {
            std::cerr << caption << ' ' << message << '\n';
        }
    }
    if (!gPendingDialog) {
        return;
    }
    const FaultDialogData data = std::move(*gPendingDialog);
    gPendingDialog.reset();
    if (PresentFaultDialog(data)) {
        SendPendingMailGuarded();
        if (data.restartOnTerminate) {
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

void NoteFilterMessage(const std::string& caption, const std::string& message) {
    gPendingFilterMessage.emplace(caption, message);
}

void NoteFaultDialogShown() {
    gDialogShown = true;
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
            std::cerr << data.caption << ' ' << data.shortMessage << '\n';
        }
        const std::string line =
            FaultWarningLine(flShowError, "GUI", "Cannot show the DialogBox window.");
        std::cerr << line << '\n';
        FaultTrace().Note(line);
    }
    return result == FaultDialogResult::kTerminate;
}

void SendFaultMailAtEnd() {
    if (gPlatform) {
        SendPendingMailGuarded();
    }
}

bool AskInFaultWindow(const std::string& caption, const std::string& text, bool& yes) {
    const std::lock_guard lock(gWindowLock);
    return gWindow && gWindow->Ask(caption, text, yes);
}

bool InformInFaultWindow(const std::string& caption, const std::string& text) {
    const std::lock_guard lock(gWindowLock);
    return gWindow && gWindow->Inform(caption, text);
}

void FillActiveControls(FaultReportValues& values) {
    std::string texts[4];
    {
        const std::lock_guard lock(gWindowLock);
        if (gWindow) {
            gWindow->ActiveControls(texts[0], texts[1], texts[2], texts[3]);
        }
    }
    values[lfFormClass] = FormatWindowText(texts[0]);
    values[lfFormText] = FormatWindowText(texts[1]);
    values[lfControlClass] = FormatWindowText(texts[2]);
    values[lfControlText] = FormatWindowText(texts[3]);
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

namespace {

// The program-thread watch: every program thread is listed while it runs, with the stack of
// the thread that started it, and goes through the platform's steps.
std::vector<std::uintptr_t> CaptureCreatorStack() {
    return gThreadPlatform ? gThreadPlatform->CaptureCreatorStack() : std::vector<std::uintptr_t>{};
}

void EnterProgramThread(std::string name, std::vector<std::uintptr_t> creatorStack) {
    FaultThreads().Add({std::this_thread::get_id(), std::move(name), std::move(creatorStack)});
    if (gThreadPlatform) {
        gThreadPlatform->EnterProgramThread();
    }
}

void LeaveProgramThread() {
    if (gThreadPlatform) {
        gThreadPlatform->LeaveProgramThread();
    }
    FaultThreads().Remove(std::this_thread::get_id());
}

}  // namespace

void SetCapturePlatformForThreads(FaultCapturePlatform* platform) {
    gThreadPlatform = platform;
    SetProgramThreadWatch({CaptureCreatorStack, EnterProgramThread, LeaveProgramThread});
}

void StartFaultCapture(FaultCapturePlatform& platform, bool windowed) {
    gPlatform = &platform;
    SetCapturePlatformForThreads(&platform);
    gMainThread = platform.CurrentThread();
    gWindowed = windowed;
    // The logger's thread is known before anything can fault: a fault inside it is told apart,
    // and it never starts after the program has ended.
    std::promise<void> started;
    std::thread(ReporterLoop, &started).detach();
    started.get_future().wait();
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

bool HandOverFatalFault() {
    gFaultInMainThread = gPlatform->CurrentThread() == gMainThread;
    // The report's dialog comes first, then its mail (asked in the window too).
    HoldReportMail(gPlatform->DialogsOnLoggerThread());
    gPlatform->WakeReporter();
    constexpr int kStep = 100;
    for (int waited = 0; !gPlatform->WaitForReport(kStep); waited += kStep) {
        if (waited >= kMostReportMilliseconds && !gDialogOnLogger) {
            return false;
        }
    }
    return gFaultInMainThread && (gPendingDialog || gPendingFilterMessage);
}

void ShowFaultDialogAndEnd() {
    ShowPendingDialog();
    SendPendingMailGuarded();
    FaultTrace().Save();
    gPlatform->EndProcess(1);
    std::_Exit(1);  // not reached
}

void ReportFaultAndEnd() {
    if (gPlatform->DialogsOnLoggerThread()) {
        if (HandOverFatalFault()) {
            ShowFaultDialogAndEnd();
        }
        gPlatform->EndProcess(1);
    }
    HandOver();
    ShowPendingDialog();
    gPlatform->EndProcess(1);
    std::_Exit(1);  // not reached: a virtual call's [[noreturn]] is not seen by the compiler
}

void ReportFrozenMainThread() {
    const auto* options = CurrentFaultLogOptions();
    TakeFaultBusyFlag(0);
    // The program goes on after the report: a mode-1 mail waits for its end.
    gContinues = true;
    HoldReportMail(gPlatform->DialogsOnLoggerThread());
    if (gPlatform->SuspendMainThread(options ? options->FreezeMessage : std::string{})) {
        HandOver();
        // The dialog's windows would wait for the main thread's answers: it goes on first.
        gPlatform->ResumeMainThread();
        ShowPendingDialog();
    }
    SendHeldMailGuarded();
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
    HoldReportMail(gPlatform->DialogsOnLoggerThread() && gPlatform->CurrentThread() == gMainThread);
    HandOver();
    const bool reported = gReported;
    ShowPendingDialog();
    SendHeldMailGuarded();
    ReleaseFaultBusyFlag();
    return !reported;
}

}  // namespace packmeter

#pragma once

// The capture flow of the fault logger, the same on every system. A thread that meets a fault
// or an uncaught exception takes the busy flag, lets the platform record what it knows, hands
// over to the logger's own thread and waits a bounded time; the logger's thread makes the
// report. What only the system can do (record registers, wake and wait, end or restart the
// process, stop the main thread and read where it stands) sits behind FaultCapturePlatform;
// what only the window's toolkit can do (the error dialog, the probe of its event loop)
// behind FaultWindow.

#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/exceptlog/fault_dialog.hpp"
#include "core/exceptlog/report_text.hpp"

namespace packmeter {

class FaultMailPlatform;

// The longest a thread waits for the window's thread to take up an error dialog, and the
// longest a dialog may take to appear after a fault of the window's thread itself.
constexpr int kMostDialogWaitMilliseconds = 10000;
class TraceValue;

class FaultCapturePlatform {
  public:
    virtual ~FaultCapturePlatform() = default;

    // ---- The busy flag and the hand-over ----
    // The calling thread as the system numbers threads; never 0.
    virtual std::uint64_t CurrentThread() = 0;
    // A short wait while another thread reports (safe inside a signal handler).
    virtual void PauseBriefly() = 0;
    // Wakes the logger's thread (safe inside a signal handler).
    virtual void WakeReporter() = 0;
    // Waits up to `milliseconds` for the logger's thread to finish the report.
    virtual bool WaitForReport(int milliseconds) = 0;
    // In the logger's thread: waits for the next request (false: the channel is gone), and
    // tells the waiting thread the report is done.
    virtual bool WaitForRequest() = 0;
    virtual void ReportDone() = 0;

    // ---- The report ----
    // In the logger's thread: the report of what the waiting thread recorded; true when one
    // was made (the logger active for the faulting module, the type not filtered).
    virtual bool MakeReport() = 0;
    // The recorded type and fault code, for the trace.
    virtual std::string RecordedType() = 0;
    virtual std::int64_t RecordedCode() = 0;
    // Records the exception the calling thread handles (or std::terminate without one), with
    // the calling thread's stack.
    virtual void RecordCurrentException() = 0;
    virtual FaultMailPlatform& Mail() = 0;

    // ---- The end ----
    [[noreturn]] virtual void EndProcess(int exitCode) = 0;
    // A fault inside the logger itself (`fault`: the system's number for it).
    [[noreturn]] virtual void EndInsideLogger(int fault) = 0;
    // Starts the program again with its own command line in the folder it started in.
    virtual void Restart() = 0;
    // Whether the error dialog of a fatal fault is shown from the logger's thread (where the
    // faulting thread waits in a signal handler, which may not run a dialog), or by the
    // faulting thread itself.
    virtual bool DialogsOnLoggerThread() const { return false; }

    // ---- The main thread, for the frozen-application watchdog ----
    // Stops the main thread and records where it stands as an "EFrozenApplication" with the
    // message; false when that could not be done.
    virtual bool SuspendMainThread(const std::string& message) = 0;
    virtual void ResumeMainThread() = 0;
    // The system's own probe of the main window, where it has one.
    virtual bool FindMainWindow() { return false; }
    virtual bool ProbeMainWindow(int /*milliseconds*/) { return true; }
    virtual bool MainWindowExists() { return false; }

    // ---- Every program thread ----
    // In the starting thread: its call sites, for the reports of the new thread.
    virtual std::vector<std::uintptr_t> CaptureCreatorStack() { return {}; }
    // In the new thread, around its body.
    virtual void EnterProgramThread() {}
    virtual void LeaveProgramThread() {}
};

// The window program's part: its error dialog and, where the system has no probe of the main
// window, the probe of its event loop.
class FaultWindow {
  public:
    virtual ~FaultWindow() = default;
    // Shows the dialog of one report, from any thread.
    virtual FaultDialogResult ShowDialog(const FaultDialogData& data) = 0;
    // An information box (a filtered exception's message), from any thread; false when it
    // could not be shown.
    virtual bool Inform(const std::string& caption, const std::string& text) = 0;
    // A Yes/No question (whether to mail a report), from any thread; false when it could not
    // be asked, otherwise `yes` holds the answer.
    virtual bool Ask(const std::string& /*caption*/, const std::string& /*text*/, bool& /*yes*/) {
        return false;
    }
    // The active window and its focused control: class names and texts, from any thread (a
    // snapshot the window's thread keeps, or what the system tells of that thread).
    virtual void ActiveControls(std::string& /*formClass*/, std::string& /*formText*/,
                                std::string& /*controlClass*/, std::string& /*controlText*/) {}
    virtual bool HasProbe() const { return false; }
    // True when the window's thread answered within the time.
    virtual bool Probe(int /*milliseconds*/) { return true; }
};

// An object made once and never destroyed: the capture's platform serves the logger's thread
// and the fault handlers until the process is gone, after the static destructors have run.
template <class T>
class NeverDestroyed {
  public:
    template <class... Args>
    explicit NeverDestroyed(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;
    T& Get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

// The window of the program, while it has one; null again when it goes.
void SetFaultWindow(FaultWindow* window);

// The platform of the running capture; null while the logger is inactive.
FaultCapturePlatform* CurrentCapturePlatform();
// Hooks the capture in over the platform (which lives as long as the process): starts the
// logger's thread and the watchdog when the options ask for it.
void StartFaultCapture(FaultCapturePlatform& platform, bool windowed);
// For the tests of the thread list: the platform that program threads use, without the rest.
void SetCapturePlatformForThreads(FaultCapturePlatform* platform);

// ---- The flow, called by the platform's handlers ----
// Takes the busy flag, waiting while another thread reports; a thread that faults while it
// owns the flag, or the logger's own thread, is faulting inside the logger.
void TakeFaultBusyFlag(int fault);
void ReleaseFaultBusyFlag();
bool FaultBusy();
// Hands the recorded fault over, shows its dialog and ends the process with exit code 1.
[[noreturn]] void ReportFaultAndEnd();
// The same for a faulting thread inside a signal handler: hands over and waits, a bounded time
// (longer while the logger's thread shows the dialog). Returns true when the dialog is left to
// this thread, which must then leave the handler and call ShowFaultDialogAndEnd (a fault of
// the window's own thread: no other thread can show its dialog); otherwise the process is to
// end at once.
bool HandOverFatalFault();
[[noreturn]] void ShowFaultDialogAndEnd();
// Called by the dialog once it is on the screen.
void NoteFaultDialogShown();
// The watchdog's report of a frozen main thread.
void ReportFrozenMainThread();

// Whether the report just made goes on (an event loop's exception) or ends the process.
bool FaultRecordContinues();
bool FaultWindowed();

// In the logger's thread: keeps the dialog of the report just made, or the message of a
// filtered exception, for the flow to show.
void NoteFaultDialog(const FaultDialogData& data);
void NoteFilterMessage(const std::string& caption, const std::string& message);
// Shows the dialog of one report in the program's window. Without a window, or when it cannot
// be shown, the warning goes to stderr and the trace (and, without a window, the message too).
// True when the user asked to end the program.
bool PresentFaultDialog(const FaultDialogData& data);
// The mail of the program's end (EmailSendMode 1, after at least one report the program went
// on from): the window program sends it as its event loop ends, while its window can still
// ask; otherwise it goes when the process exits.
void SendFaultMailAtEnd();
// The mail's question and information box in the program's window; false without one (or when
// it cannot show them), so that the caller asks its own way.
bool AskInFaultWindow(const std::string& caption, const std::string& text, bool& yes);
bool InformInFaultWindow(const std::string& caption, const std::string& text);
// The report's Active Controls lines from the program's window; empty without one.
void FillActiveControls(FaultReportValues& values);
// The window's own probe of its event loop, for the watchdog.
bool WindowHasProbe();
bool ProbeWindow(int milliseconds);

// For the catch block of an event loop (the Qt application's notify, the Win32 window
// framework's dispatch): reports the exception being handled, and the program goes on. True
// when the logger did not handle it (inactive, or the filter names it), so that the caller
// shows its own message.
bool FaultLogExceptionManager();

}  // namespace packmeter

#pragma once

#include <QApplication>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "core/exceptlog/fault_capture.hpp"

namespace packmeter::qt {

// The application object of the window program. An exception thrown by an event handler stops
// at the event loop: the fault logger reports it, or, while the logger is inactive, the error
// message shows its text; either way the program goes on. While it exists the logger shows its
// error dialog, and its watchdog probes the event loop with a heartbeat.
class FaultLogApplication : public QApplication, private FaultWindow {
  public:
    FaultLogApplication(int& argc, char** argv);
    ~FaultLogApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the message of an exception the logger left to the program; a message box unless
    // replaced.
    void SetErrorDisplay(std::function<void(const std::string&)> display);

  private:
    void ShowError(const std::string& message);
    FaultDialogResult ShowDialog(const FaultDialogData& data) override;
    bool Inform(const std::string& caption, const std::string& text) override;
    bool Ask(const std::string& caption, const std::string& text, bool& yes) override;
    void ActiveControls(std::string& formClass, std::string& formText, std::string& controlClass,
                        std::string& controlText) override;
    // In the window's thread, when the active window or the focus changes.
    void NoteActiveControls();
    bool HasProbe() const override { return true; }
    // Called by the watchdog's thread: a heartbeat through the event loop, true when it was
    // answered within the time.
    bool Probe(int milliseconds) override;

    std::atomic<unsigned> heartbeatSent_{0};
    std::atomic<unsigned> heartbeatAnswered_{0};

    std::function<void(const std::string&)> display_;
    std::mutex activeLock_;
    std::string active_[4];
};

}  // namespace packmeter::qt

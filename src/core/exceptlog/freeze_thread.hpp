#pragma once

// The frozen-application watchdog: a thread that probes the program's main window and, when the
// window has not answered for the time-out, has a report made with the main thread's call stack.
// The platform supplies the window, the probe and the report.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace packmeter {

struct TFreezeHooks {
    // Looks for the main window; false while there is none yet.
    std::function<bool()> FindMainWindow;
    // Sends the window a probe that must be answered within `milliseconds`; true when it was.
    std::function<bool(int milliseconds)> Probe;
    // False once the window found is gone.
    std::function<bool()> WindowExists;
    // True while another report is being made: its time does not count.
    std::function<bool()> ReportBusy;
    // Makes the frozen report.
    std::function<void()> Report;
};

class TFreezeThread {
  public:
    static constexpr int kProbeMilliseconds = 50;

    ~TFreezeThread() { Stop(); }

    // Starts probing unless already running; reports after `timeoutSeconds` of unanswered probes.
    void Start(int timeoutSeconds, TFreezeHooks hooks);
    // Tells the thread to stop and waits for it.
    void Stop();
    bool Running() const { return thread_.joinable(); }

  private:
    void Run(int timeoutMilliseconds);
    // Sleeps, returning early (with true) when told to stop.
    bool StopRequested(int milliseconds);

    TFreezeHooks hooks_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
};

}  // namespace packmeter

namespace packmeter {

// The toolkit's probe of the main window where the system offers none (Qt: a heartbeat through
// the main event loop): true when the window's thread answered within the time. None until the
// toolkit sets one, and again once it is gone.
using TMainWindowProbe = std::function<bool(int milliseconds)>;
void SetMainWindowProbe(TMainWindowProbe probe);
bool HasMainWindowProbe();
// Runs the probe (true without one); the probe cannot be replaced while it runs.
bool ProbeMainWindow(int milliseconds);

}  // namespace packmeter

#pragma once

// The frozen-application watchdog: a thread that probes the program's main window and, when the
// window has not answered for the time-out, has a report made with the main thread's call stack.
// The window's toolkit probes its event loop where it can (FaultWindow); otherwise the system
// probes its main window (FaultCapturePlatform).

#include <condition_variable>
#include <mutex>
#include <thread>

namespace packmeter {

class FaultCapturePlatform;

class TFreezeThread {
  public:
    static constexpr int kProbeMilliseconds = 50;

    ~TFreezeThread() { Stop(); }

    // Starts probing unless already running; reports after `timeoutSeconds` of unanswered probes.
    void Start(int timeoutSeconds, FaultCapturePlatform& platform);
    // Tells the thread to stop and waits for it.
    void Stop();
    bool Running() const { return thread_.joinable(); }

  private:
    void Run(int timeoutMilliseconds);
    // Sleeps, returning early (with true) when told to stop.
    bool StopRequested(int milliseconds);
    bool FindMainWindow();
    bool Probe(int milliseconds);
    bool WindowExists();

    FaultCapturePlatform* platform_ = nullptr;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
};

// Runs the watchdog while the options ask for it (FreezeActive), from now on and whenever the
// options are switched; it stops when the program ends.
void StartFaultWatchdog(FaultCapturePlatform& platform);

}  // namespace packmeter

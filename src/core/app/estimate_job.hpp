#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/app/command_progress.hpp"
#include "core/app/estimate_result.hpp"
#include "core/fs/filesystem.hpp"
#include "core/utils/forecast.hpp"

namespace packmeter {

class WorkerChannel;

// The forecast behind the windows' "Estimate saving...": ForecastPaths over entries of one
// folder on a program thread. The thread touches only the job's own state and the channel (a
// CommandNotice when it ends, so the UI thread takes the result); the UI thread reads the
// progress when it likes. The job's owner lives on the UI thread; destroying the job stops
// the thread and waits for it, so the thread never outlives the window that owns the job.
class EstimateJob {
  public:
    explicit EstimateJob(std::shared_ptr<WorkerChannel> channel);
    ~EstimateJob();
    EstimateJob(const EstimateJob&) = delete;
    EstimateJob& operator=(const EstimateJob&) = delete;

    // Starts the forecast of `result`'s entries (its folder, names and request; the rows are
    // filled in). Only while no job runs.
    void Start(std::shared_ptr<FileSystem> fs, CompressorFactory makeCompressor,
               EstimateResult result);
    // Asks the thread to stop after the piece it reads.
    void Cancel() { stop_.store(true); }
    // Stops the thread and waits for it.
    void Stop();
    // From Start until the UI thread has taken the result.
    bool Active() const { return active_; }
    // The bytes read so far of those to read, as a command's progress.
    CommandProgress Progress() const;
    // Once the thread has ended: the result (complete false when it was cancelled), and the
    // job is no longer active. Nothing while it runs.
    std::optional<EstimateResult> TakeResult();

  private:
    struct Shared {
        std::mutex lock;
        bool done = false;
        EstimateResult result;
        ForecastProgress progress;
    };

    std::shared_ptr<WorkerChannel> channel_;
    std::shared_ptr<Shared> shared_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
    bool active_ = false;
};

}  // namespace packmeter

#include "core/app/estimate_job.hpp"

#include <utility>

#include "core/app/worker_channel.hpp"
#include "core/utils/program_thread.hpp"

namespace packmeter {

EstimateJob::EstimateJob(std::shared_ptr<WorkerChannel> channel) : channel_(std::move(channel)) {}

EstimateJob::~EstimateJob() {
    Stop();
}

void EstimateJob::Stop() {
    stop_.store(true);
    if (worker_.joinable()) {
        worker_.join();
    }
}

void EstimateJob::Start(std::shared_ptr<FileSystem> fs, CompressorFactory makeCompressor,
                        EstimateResult result) {
    Stop();
    stop_.store(false);
    shared_ = std::make_shared<Shared>();
    active_ = true;
    std::vector<std::string> paths;
    if (result.wholeFolder) {
        paths.push_back(result.folder);
    } else {
        for (const std::string& name : result.names) {
            paths.push_back(result.folder + name);
        }
    }
    result.rows.clear();
    worker_ = StartProgramThread(
        "EstimateJob", [this, shared = shared_, channel = channel_, fs = std::move(fs),
                        makeCompressor = std::move(makeCompressor), paths = std::move(paths),
                        result = std::move(result)]() mutable {
            std::vector<ForecastRow> rows;
            const bool complete = ForecastPaths(*fs, paths, result.request, makeCompressor, rows,
                                                &shared->progress, &stop_);
            {
                std::lock_guard guard(shared->lock);
                result.rows = std::move(rows);
                result.complete = complete && !stop_.load();
                shared->result = std::move(result);
                shared->done = true;
            }
            // A window that has closed has detached the channel: the notice goes nowhere.
            channel->Push({CommandNotice{}, nullptr});
        });
}

CommandProgress EstimateJob::Progress() const {
    CommandProgress progress;
    progress.running = active_;
    progress.estimating = true;
    if (shared_) {
        progress.bytesDone = shared_->progress.done.load();
        progress.bytesTotal = shared_->progress.total.load();
        // The listing runs before the reading and sets the total.
        progress.counting = progress.bytesTotal == 0 && progress.bytesDone == 0;
    }
    return progress;
}

std::optional<EstimateResult> EstimateJob::TakeResult() {
    if (!active_ || !shared_) {
        return std::nullopt;
    }
    {
        std::lock_guard guard(shared_->lock);
        if (!shared_->done) {
            return std::nullopt;
        }
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    active_ = false;
    // A cancel asked for before the UI thread took the result counts, even when the thread
    // had just finished: what the user sees follows the button.
    if (stop_.load()) {
        shared_->result.complete = false;
    }
    return std::move(shared_->result);
}

}  // namespace packmeter

#include "core/app/worker_channel.hpp"

namespace packmeter {

void WorkerChannel::SetWake(Wake wake) {
    std::lock_guard guard(lock_);
    wake_ = std::move(wake);
    if (wake_ && !queue_.empty() && !wakePending_) {
        wakePending_ = true;
        wake_();
    }
}

void WorkerChannel::Push(WorkerEvent event) {
    std::lock_guard guard(lock_);
    queue_.push_back(std::move(event));
    // Called under the lock so that detaching the window waits for a wake in progress.
    if (!wakePending_ && wake_) {
        wakePending_ = true;
        wake_();
    }
}

WorkerEvents WorkerChannel::Take() {
    WorkerEvents taken;
    std::lock_guard guard(lock_);
    taken.swap(queue_);
    wakePending_ = false;
    return taken;
}

void WorkerChannel::Rewake() {
    std::lock_guard guard(lock_);
    if (wake_) {
        wakePending_ = true;
        wake_();
    }
}

}  // namespace packmeter

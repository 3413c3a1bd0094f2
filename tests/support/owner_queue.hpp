#pragma once

// The owner's side of a directory monitor in tests: notices are queued by the watch's thread
// and run on the test's thread when it takes them, as a window's thread takes its messages.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "core/shell/dir_mon.hpp"

namespace packmeter::testing {

class OwnerQueue {
  public:
    PostToOwner Poster() {
        return [this](std::function<void()> run) {
            std::lock_guard guard(lock_);
            queue_.push_back(std::move(run));
            arrived_.notify_one();
        };
    }

    // Runs the notices that arrive within `wait` on this thread.
    void Take(std::chrono::milliseconds wait) {
        const auto until = std::chrono::steady_clock::now() + wait;
        std::unique_lock guard(lock_);
        while (arrived_.wait_until(guard, until, [&] { return !queue_.empty(); })) {
            auto run = std::move(queue_.front());
            queue_.erase(queue_.begin());
            guard.unlock();
            run();
            guard.lock();
        }
    }

  private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::function<void()>> queue_;
};

// Whether `monitor` reports a change after `act`; `changes` counts its OnDirChange calls.
inline bool Reported(OwnerQueue& owner, int& changes, const std::function<void()>& act,
                     std::chrono::milliseconds wait = std::chrono::milliseconds(500)) {
    owner.Take(std::chrono::milliseconds(100));
    changes = 0;
    act();
    owner.Take(wait);
    return changes > 0;
}

}  // namespace packmeter::testing

#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <variant>

#include "core/scan/entry_row.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/scan/scan.hpp"

namespace packmeter {

// A compression command has handed something over; the command keeps what it was.
struct CommandNotice {};

// A scan's totals, made once a scan and held apart so that they do not make every event larger.
using SharedTotals = std::shared_ptr<const ScanTotals>;

// One thing a worker (a scan or a compression command) handed over for the window, with the
// stop flag of the scan that made it (none for a command's notice). Kept small: a window that
// falls behind a walk holds one for every row still to come in.
struct WorkerEvent {
    // A scan's busy state (bool), row or totals, or a compression command's notice.
    std::variant<bool, EntryRow, SharedTotals, CommandNotice> what;
    std::shared_ptr<const StopFlag> stop;

    bool Stopped() const { return stop && stop->load(); }
};

// Events in the order they came. A deque grows by blocks, never moving (nor holding twice) the
// events already queued.
using WorkerEvents = std::deque<WorkerEvent>;

// The one road from the worker threads (scans and compression commands) to the UI thread: a
// queue in the order events were made.
// The first event that finds the queue empty calls the wake function, which only has to
// arrange for Take to be called on the UI thread; events that follow before that join the same
// batch. Whoever applies the events skips those of a scan that has been asked to stop.
class WorkerChannel {
  public:
    using Wake = std::function<void()>;

    // Sets the wake function, or detaches the window with an empty one: once this returns, no
    // wake call is running or will be made until a new one is set.
    void SetWake(Wake wake);
    void Push(WorkerEvent event);
    // Everything queued so far, oldest first.
    WorkerEvents Take();
    // Calls the wake function as a new event would, pending wake or not: the taker has work
    // left over from its last batch, or was busy when the last wake came.
    void Rewake();

  private:
    std::mutex lock_;
    WorkerEvents queue_;
    bool wakePending_ = false;
    Wake wake_;
};

// A scan's output that queues into a channel, tagged with the scan's stop flag. With `rows`
// false only its busy state and totals go: a measure of the totals under rows that stay.
class ScanChannelOutput final : public ScanOutput {
  public:
    explicit ScanChannelOutput(std::shared_ptr<WorkerChannel> channel, bool rows = true)
        : channel_(std::move(channel)), rows_(rows) {}
    // The scan's stop flag; set before the scan starts.
    void Bind(std::shared_ptr<const StopFlag> stop) { stop_ = std::move(stop); }

    void ScanBusy(bool busy) override { channel_->Push({busy, stop_}); }
    void AddRow(EntryRow row) override {
        if (rows_) {
            channel_->Push({std::move(row), stop_});
        }
    }
    void SetTotals(ScanTotals totals) override {
        channel_->Push({std::make_shared<const ScanTotals>(std::move(totals)), stop_});
    }

  private:
    std::shared_ptr<WorkerChannel> channel_;
    bool rows_;
    std::shared_ptr<const StopFlag> stop_;
};

}  // namespace packmeter

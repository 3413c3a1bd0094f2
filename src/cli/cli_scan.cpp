#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cli/cli_commands.hpp"
#include "core/app/row_hint.hpp"
#include "core/scan/scan.hpp"
#include "core/utils/text.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

namespace {

// Collects a scan's rows and totals and wakes the waiting thread when the scan is idle again.
class CollectingOutput final : public ScanOutput {
  public:
    void ScanBusy(bool busy) override {
        std::lock_guard guard(lock_);
        done_ = !busy;
        if (done_) {
            changed_.notify_all();
        }
    }
    void AddRow(EntryRow row) override {
        std::lock_guard guard(lock_);
        rows_.push_back(std::move(row));
    }
    void SetTotals(ScanTotals totals) override {
        std::lock_guard guard(lock_);
        totals_ = std::move(totals);
    }
    // Waits up to `period` for the end of the scan; true when it has ended.
    bool WaitDone(std::chrono::milliseconds period) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, period, [&] { return done_; });
    }
    EntryRows TakeRows() {
        std::lock_guard guard(lock_);
        return std::move(rows_);
    }
    ScanTotals Totals() {
        std::lock_guard guard(lock_);
        return totals_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
    EntryRows rows_;
    ScanTotals totals_;
};

}  // namespace

int Scan(const Options& options, Terminal& terminal) {
    const std::string given = options.paths.empty() ? "." : options.paths.front();
    const std::string folder = IncludeTrailingChar(FullPath(given));
    auto fs = MakeFileSystem();
    if (given.empty() || !IsFolder(folder)) {
        // Why, when the path names something: a file given as the folder is "not a folder", as
        // the window says it; a symbolic-link loop or no permission is named as such.
        const std::string problem = given.empty() ? std::string() : PathProblem(FullPath(given));
        const bool exists = !given.empty() && problem.empty();
        terminal.Err("packmeter-cli: " + ToSafeDisplayText(given) + ": " +
                     (exists                                                   ? "not a folder"
                      : problem.empty() || problem == "no such file or folder" ? "no such folder"
                                                                               : problem) +
                     "\n");
        return 2;
    }
    if (!fs->OpenFolder(folder)) {
        terminal.Err("packmeter-cli: " + ToSafeDisplayText(given) +
                     ": the folder cannot be read (permission denied)\n");
        return 2;
    }
    Report report;
    report.folder = folder;
    report.volume = fs->GetVolumeInfo(folder);
    ShowNotice(report.volume, terminal);

    auto output = std::make_shared<CollectingOutput>();
    TScan scan(folder, output, fs, nullptr, UserNumberFormat());
    scan.Start();
    const bool progress = terminal.ErrIsInteractive();
    bool shown = false;
    while (!output->WaitDone(std::chrono::milliseconds(1500))) {
        if (progress) {
            terminal.ErrProgress(ToSafeDisplayText(scan.Progress().CurrentScanFolder()));
            shown = true;
        }
    }
    scan.WaitFor();
    if (shown) {
        terminal.Err("\r\033[K");
    }
    report.hasTotals = true;
    report.totals = output->Totals();
    report.rows = output->TakeRows();
    if (report.totals.unreadable > 0) {
        terminal.Err("packmeter-cli: " + UnreadableNotice(report.totals.unreadable) + "\n");
    }
    // A scan changes nothing: a switch a killed run left half-done is only reported.
    for (const std::string& name : fs->InterruptedSwitches(folder)) {
        terminal.Err("packmeter-cli: " + ToSafeDisplayText(folder + name) +
                     ": a compression switch was interrupted; compress or decompress it to "
                     "finish or undo the switch\n");
    }
    return Print(report, options, terminal, 0);
}

}  // namespace packmeter::cli

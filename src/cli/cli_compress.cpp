#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "cli/cli_commands.hpp"
#include "core/app/command_progress.hpp"
#include "core/app/compress_command.hpp"
#include "core/utils/text.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

namespace {

// SIGINT and SIGTERM during a compression command: the command ends after the current file,
// which a rewrite finishes or abandons as a whole, so no scratch copy is left behind.
std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

extern "C" void RequestStop(int signal) {
    stopSignal.store(signal);
    stopRequested.store(true);
}

class StopSignals {
  public:
    StopSignals() {
        stopRequested.store(false);
        stopSignal.store(0);
        interrupt_ = std::signal(SIGINT, RequestStop);
        terminate_ = std::signal(SIGTERM, RequestStop);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals() {
        std::signal(SIGINT, interrupt_);
        std::signal(SIGTERM, terminate_);
    }

  private:
    void (*interrupt_)(int) = SIG_DFL;
    void (*terminate_)(int) = SIG_DFL;
};

// What a command tells the terminal as it goes: each failure at once on stderr and, on an
// interactive terminal, a progress line with the entry being switched and how far the command
// has come, redrawn at most five times a second. Collects the rows of one folder's entries.
class CommandOutput final : public CompressListener {
  public:
    CommandOutput(Terminal& terminal, const std::string& command, bool progress)
        : terminal_(terminal), command_(command), progress_(progress) {
        figure_.decompress = command == "decompress";
    }
    // The totals of the progress figure, when it is shown.
    void Count(FileSystem& fs, const std::vector<std::string>& paths) {
        if (!progress_) {
            return;
        }
        for (const std::string& path : paths) {
            const PathParts parts = SplitPath(path);
            const CompressCount count = CountEntry(fs, parts.parent, parts.name, &stopRequested);
            figure_.entriesTotal += count.entries;
            figure_.bytesTotal += count.bytes;
        }
    }
    // The rows measured since the last call, by index.
    std::vector<std::pair<std::size_t, EntryRow>> TakeRows() { return std::move(rows_); }
    bool AnyFailed() const { return failed_; }
    // Clears the progress line, before other text goes to the terminal.
    void Clear() {
        if (shown_) {
            terminal_.Err("\r\033[K");
            shown_ = false;
        }
    }

    void Switching(const std::string& path) override {
        const auto now = std::chrono::steady_clock::now();
        if (!progress_ || now - shownAt_ < std::chrono::milliseconds(200)) {
            return;
        }
        shownAt_ = now;
        shown_ = true;
        terminal_.Err("\r\033[K" +
                      std::string(figure_.decompress ? kDecompressingText : kCompressingText) +
                      ToSafeDisplayText(path) + kEllipsisText + figure_.Text(format_));
    }
    void Switched(const std::string&, std::int64_t bytes, bool) override {
        ++figure_.entriesDone;
        figure_.bytesDone += bytes;
    }
    void Measured(std::size_t index, EntryRow row) override {
        rows_.emplace_back(index, std::move(row));
    }
    void Failed(const CompressionFailure& failure, bool) override {
        Clear();
        terminal_.Err("packmeter-cli: " + ToSafeDisplayText(failure.path) + ": cannot " + command_ +
                      (failure.reason.empty() ? "" : ": " + failure.reason) + "\n");
        failed_ = true;
    }

  private:
    Terminal& terminal_;
    std::string command_;
    bool progress_;
    NumberFormat format_ = UserNumberFormat();
    CommandProgress figure_;
    std::chrono::steady_clock::time_point shownAt_{};
    bool shown_ = false;
    bool failed_ = false;
    std::vector<std::pair<std::size_t, EntryRow>> rows_;
};

}  // namespace

int Compress(const Options& options, Terminal& terminal) {
    const bool decompress = options.command == "decompress";
    // Every path is checked before anything is switched.
    std::vector<std::string> paths;
    for (const std::string& given : options.paths) {
        const std::string problem = given.empty() ? "empty path" : PathProblem(FullPath(given));
        if (!problem.empty()) {
            terminal.Err("packmeter-cli: " + (given.empty() ? std::string("\"\"") : given) + ": " +
                         problem + "\n");
            return 2;
        }
        paths.push_back(FullPath(given));
    }
    auto fs = MakeFileSystem();
    const StopSignals signals;
    // Files the threshold leaves plain are reported as they come, and counted, not failed.
    std::int64_t leftAlone = 0;
    CompressionChoice choice = options.choice;
    choice.leftAlone = [&](std::string_view name, double saving) {
        ++leftAlone;
        char percent[32];
        std::snprintf(percent, sizeof percent, "%.1f", saving < 0 ? 0.0 : saving);
        terminal.Err("packmeter-cli: " + ToSafeDisplayText(name) + ": left alone: would save " +
                     percent + " %\n");
    };
    if (!decompress) {
        fs->SetCompressionChoice(choice);
    }
    Report report;
    // Rows name their own full path when the paths lie in different folders.
    bool oneFolder = true;
    for (const std::string& path : paths) {
        oneFolder = oneFolder && SplitPath(path).parent == SplitPath(paths.front()).parent;
    }
    // The volume of each path itself: a mount root named here is its own volume.
    std::vector<VolumeInfo> volumes;
    bool oneKind = true;
    for (const std::string& path : paths) {
        volumes.push_back(fs->GetVolumeInfo(path));
        oneKind = oneKind && volumes.back().fileSystem == volumes.front().fileSystem &&
                  volumes.back().supportsCompression == volumes.front().supportsCompression;
    }
    if (!paths.empty()) {
        report.folder = SplitPath(paths.front()).parent;
        report.volume = volumes.front();
    }
    // Each notice once.
    std::vector<std::string> notices;
    for (const VolumeInfo& volume : volumes) {
        if (std::find(notices.begin(), notices.end(), volume.notice) == notices.end()) {
            notices.push_back(volume.notice);
            ShowNotice(volume, terminal);
        }
    }
    CommandOutput output(terminal, options.command, terminal.ErrIsInteractive());
    output.Count(*fs, paths);
    // The paths of one folder, one after the other, go together: their folder is listed once
    // for all of them.
    CompressOutcome outcome = CompressOutcome::kDone;
    for (std::size_t first = 0; first < paths.size() && outcome == CompressOutcome::kDone;) {
        const std::string parent = SplitPath(paths[first]).parent;
        std::vector<std::string> names;
        std::size_t end = first;
        for (; end < paths.size() && SplitPath(paths[end]).parent == parent; ++end) {
            names.push_back(SplitPath(paths[end]).name);
        }
        outcome = CompressEntries(*fs, parent, names, decompress, &stopRequested, output);
        output.Clear();
        for (auto& [index, row] : output.TakeRows()) {
            const std::size_t i = first + index;
            if (!oneFolder) {
                row.name = paths[i];
                row.caption = ToDisplayText(paths[i]);
            }
            report.rows.push_back(std::move(row));
            if (!oneKind) {
                report.rowVolumes.push_back(volumes[i]);
            }
        }
        first = end;
    }
    if (leftAlone > 0) {
        terminal.Err("packmeter-cli: " + std::to_string(leftAlone) +
                     " files left alone: they would save less than the threshold\n");
    }
    const int result = output.AnyFailed() ? 1 : 0;
    if (stopRequested) {
        Print(report, options, terminal, result);
        const int signal = stopSignal.load();
        terminal.Err(std::string("packmeter-cli: ") +
                     (signal == SIGTERM ? "terminated" : "interrupted") +
                     " after the current file; entries not listed were not switched\n");
        return 128 + signal;
    }
    return Print(report, options, terminal, result);
}

}  // namespace packmeter::cli

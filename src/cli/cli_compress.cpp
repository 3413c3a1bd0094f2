#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>

#include <unistd.h>

#include "cli/cli_commands.hpp"
#include "core/app/command_progress.hpp"
#include "core/app/compress_command.hpp"
#include "core/utils/text.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

namespace {

// SIGINT and SIGTERM during a compression command: the command ends after the current file,
// which a rewrite finishes or abandons as a whole, so no scratch copy is left behind. A second
// signal abandons the file in hand at once, leaving it as it was.
std::atomic<bool> stopRequested{false};
std::atomic<bool> abandonRequested{false};
std::atomic<int> stopSignal{0};

constexpr char kStoppingText[] =
    "\r\033[Kpackmeter-cli: stopping once the file in hand is switched or put back as it was "
    "(a large file on NTFS is copied: about 20 s per GB); signal again (Ctrl-C) to abandon it "
    "at once\n";
constexpr char kAbandoningText[] =
    "\r\033[Kpackmeter-cli: abandoning the file in hand; it stays as it was\n";

extern "C" void RequestStop(int signal) {
    // Only calls that are safe in a signal handler: atomics, write and signal.
    stopSignal.store(signal);
    const bool again = stopRequested.exchange(true);
    if (again) {
        abandonRequested.store(true);
    }
    const char* text = again ? kAbandoningText : kStoppingText;
    const std::size_t size = again ? sizeof kAbandoningText - 1 : sizeof kStoppingText - 1;
    [[maybe_unused]] const auto written = ::write(2, text, static_cast<unsigned>(size));
    std::signal(signal, RequestStop);  // Windows resets a handler once it has run
}

class StopSignals {
  public:
    StopSignals() {
        stopRequested.store(false);
        abandonRequested.store(false);
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

// The failures named one by one on stderr; the rest are counted in one line at the end, so a
// command over many files that all fail does not bury the terminal.
constexpr std::int64_t kNamedFailures = 20;

// The paths of one folder that are switched together (their folder is listed once for all of
// them), or a folder switched as itself (a root, which no folder lists): its own entries.
struct PathGroup {
    std::string folder;  // with trailing separator
    std::vector<std::string> names;
    bool itself = false;
    std::size_t firstPath = 0;  // the index of its first path among the command's paths
};

// What a command tells the terminal as it goes: the first failures at once on stderr and, on
// an interactive terminal, a progress line with the entry being switched and how far the
// command has come, redrawn at most five times a second. Collects the rows of one group.
class CommandOutput final : public CompressListener {
  public:
    CommandOutput(Terminal& terminal, const std::string& command, bool progress)
        : terminal_(terminal), command_(command), progress_(progress) {
        figure_.decompress = command == "decompress";
    }
    // The totals of the progress figure, when it is shown.
    void Count(FileSystem& fs, const std::vector<PathGroup>& groups) {
        if (!progress_) {
            return;
        }
        for (const PathGroup& group : groups) {
            const CompressCount count = CountEntries(fs, group.folder, group.names, &stopRequested);
            figure_.entriesTotal += count.entries + (group.itself ? 1 : 0);
            figure_.bytesTotal += count.bytes;
        }
    }
    // The rows measured since the last call, by index.
    std::vector<std::pair<std::size_t, EntryRow>> TakeRows() { return std::move(rows_); }
    bool AnyFailed() const { return failures_ > 0; }
    // Clears the progress line, before other text goes to the terminal.
    void Clear() {
        if (shown_) {
            terminal_.Err("\r\033[K");
            shown_ = false;
        }
    }
    // The count of the failures that were not named, if any.
    void ShowUnnamed() {
        if (failures_ > kNamedFailures) {
            Clear();
            terminal_.Err("packmeter-cli: " + std::to_string(failures_ - kNamedFailures) +
                          " more entries could not be " + command_ + "ed (" +
                          std::to_string(failures_) + " in all)\n");
        }
    }

    void Switching(const std::string& path) override {
        const auto now = std::chrono::steady_clock::now();
        if (!progress_ || now - shownAt_ < std::chrono::milliseconds(200)) {
            return;
        }
        shownAt_ = now;
        shown_ = true;
        terminal_.ErrProgress(
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
        if (++failures_ > kNamedFailures) {
            return;
        }
        Clear();
        terminal_.Err("packmeter-cli: " + ToSafeDisplayText(failure.path) + ": cannot " + command_ +
                      (failure.reason.empty() ? "" : ": " + ToSafeDisplayText(failure.reason)) +
                      "\n");
    }

  private:
    Terminal& terminal_;
    std::string command_;
    bool progress_;
    NumberFormat format_ = UserNumberFormat();
    CommandProgress figure_;
    std::chrono::steady_clock::time_point shownAt_{};
    bool shown_ = false;
    std::int64_t failures_ = 0;
    std::vector<std::pair<std::size_t, EntryRow>> rows_;
};

// Why nothing on the volume can be switched, or "" when it may be.
std::string VolumeRefusal(const FileSystem& fs, const VolumeInfo& volume) {
    if (!fs.CompressionAvailable()) {
        return "this system offers no file compression";
    }
    if (volume.valid && !volume.supportsCompression) {
        // A file system that compresses, but not as mounted here, says why.
        return "the file system (" + ToSafeDisplayText(volume.fileSystem) + ") " +
               (volume.notice.empty() ? "does not compress files" : "is " + volume.notice);
    }
    return {};
}

// The paths in groups: those of one folder, one after the other, together; a folder that no
// listing of its parent shows (a root) alone, as itself.
std::vector<PathGroup> GroupPaths(FileSystem& fs, const std::vector<std::string>& paths) {
    std::vector<PathGroup> groups;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const PathParts parts = SplitPath(paths[i]);
        if (IsFolder(paths[i]) &&
            (parts.name.empty() || LookUpEntries(fs, parts.parent, {parts.name}).empty())) {
            const std::string folder = IncludeTrailingChar(paths[i]);
            groups.push_back({folder, TreeEntryNames(fs, folder), true, i});
        } else if (!groups.empty() && !groups.back().itself &&
                   groups.back().folder == parts.parent) {
            groups.back().names.push_back(parts.name);
        } else {
            groups.push_back({parts.parent, {parts.name}, false, i});
        }
    }
    return groups;
}

}  // namespace

int Compress(const Options& options, Terminal& terminal) {
    const bool decompress = options.command == "decompress";
    // Every path is checked before anything is switched, after a switch a killed run left
    // half-done there is finished or undone (the file may be absent from its name until then).
    auto fs = MakeFileSystem();
    fs->SetAbandonFlag(&abandonRequested);
    std::vector<std::string> paths;
    for (const std::string& given : options.paths) {
        if (!given.empty()) {
            fs->RecoverInterruptedSwitches(FullPath(given));
        }
        const std::string problem = given.empty() ? "empty path" : PathProblem(FullPath(given));
        if (!problem.empty()) {
            terminal.Err("packmeter-cli: " +
                         (given.empty() ? std::string("\"\"") : ToSafeDisplayText(given)) + ": " +
                         problem + "\n");
            return 2;
        }
        paths.push_back(FullPath(given));
    }
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
    // The volume of each path itself: a mount root named here is its own volume. A volume that
    // cannot compress at all is said once, before anything is switched.
    std::vector<VolumeInfo> volumes;
    bool oneKind = true;
    for (const std::string& path : paths) {
        volumes.push_back(fs->GetVolumeInfo(path));
        oneKind = oneKind && volumes.back().fileSystem == volumes.front().fileSystem &&
                  volumes.back().supportsCompression == volumes.front().supportsCompression;
        if (const std::string refusal = VolumeRefusal(*fs, volumes.back()); !refusal.empty()) {
            terminal.Err("packmeter-cli: " + ToSafeDisplayText(path) + ": cannot " +
                         options.command + ": " + refusal + "\n");
            return 1;
        }
    }
    if (!decompress) {
        NoteIgnoredAlgorithm(options, volumes, terminal);
    }
    // Each notice once.
    std::vector<std::string> notices;
    for (const VolumeInfo& volume : volumes) {
        if (std::find(notices.begin(), notices.end(), volume.notice) == notices.end()) {
            notices.push_back(volume.notice);
            ShowNotice(volume, terminal);
        }
    }
    const StopSignals signals;
    const std::vector<PathGroup> groups = GroupPaths(*fs, paths);
    Report report;
    // Rows name their own full path when they lie in different folders.
    bool oneFolder = true;
    for (const PathGroup& group : groups) {
        oneFolder = oneFolder && group.folder == groups.front().folder;
    }
    if (!groups.empty()) {
        report.folder = groups.front().folder;
        report.volume = volumes.front();
    }
    CommandOutput output(terminal, options.command, terminal.ErrIsInteractive());
    output.Count(*fs, groups);
    CompressOutcome outcome = CompressOutcome::kDone;
    for (std::size_t g = 0; g < groups.size() && outcome == CompressOutcome::kDone; ++g) {
        const PathGroup& group = groups[g];
        outcome = group.itself ? CompressFolderTree(*fs, group.folder, group.names, decompress,
                                                    &stopRequested, output)
                               : CompressEntries(*fs, group.folder, group.names, decompress,
                                                 &stopRequested, output);
        output.Clear();
        for (auto& [index, row] : output.TakeRows()) {
            if (!oneFolder) {
                row.name = group.folder + group.names[index];
            }
            report.rows.push_back(std::move(row));
            if (!oneKind) {
                report.rowVolumes.push_back(
                    volumes[group.itself ? group.firstPath : group.firstPath + index]);
            }
        }
    }
    output.ShowUnnamed();
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
                     ": a folder listed last may be switched only in part, and entries not "
                     "listed were not switched; run the same command again to finish\n");
        return 128 + signal;
    }
    return Print(report, options, terminal, result);
}

}  // namespace packmeter::cli

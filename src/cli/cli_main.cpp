#include "cli/cli_main.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include "cli/cli_output.hpp"
#include "core/app/compress_command.hpp"
#include "core/scan/scan.hpp"
#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

namespace {

constexpr const char* kUsage =
    "usage: packmeter-cli [--format table|tsv|json] [FOLDER]\n"
    "       packmeter-cli [--format table|tsv|json] compress|decompress PATH...\n";

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
    std::vector<EntryRow> TakeRows() {
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
    std::vector<EntryRow> rows_;
    ScanTotals totals_;
};

struct Options {
    Format format = Format::kTable;
    std::string command;  // empty (scan), "compress" or "decompress"
    std::vector<std::string> paths;
};

bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error) {
    bool onlyPaths = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!onlyPaths && arg == "--") {
            onlyPaths = true;
        } else if (!onlyPaths && (arg == "--format" || arg.starts_with("--format="))) {
            std::string value;
            if (arg == "--format") {
                if (i + 1 >= args.size()) {
                    error = "--format needs a value: table, tsv or json";
                    return false;
                }
                value = args[++i];
            } else {
                value = arg.substr(9);
            }
            if (value == "table") {
                options.format = Format::kTable;
            } else if (value == "tsv") {
                options.format = Format::kTsv;
            } else if (value == "json") {
                options.format = Format::kJson;
            } else {
                error = "unknown format '" + value + "': use table, tsv or json";
                return false;
            }
        } else if (!onlyPaths && arg.size() > 1 && arg.front() == '-') {
            error = "unknown option '" + arg + "'";
            return false;
        } else if (options.command.empty() && options.paths.empty() && !onlyPaths &&
                   (arg == "compress" || arg == "decompress")) {
            options.command = arg;
        } else {
            options.paths.push_back(arg);
        }
    }
    if (options.command.empty() && options.paths.size() > 1) {
        error = "one folder at a time";
        return false;
    }
    if (!options.command.empty() && options.paths.empty()) {
        error = options.command + " needs at least one path";
        return false;
    }
    return true;
}

void ShowNotice(const VolumeInfo& volume, Terminal& terminal) {
    if (!volume.notice.empty()) {
        terminal.Err("packmeter-cli: " + volume.notice + "\n");
    }
}

int Scan(const Options& options, Terminal& terminal) {
    const std::string given = options.paths.empty() ? "." : options.paths.front();
    const std::string folder = IncludeTrailingChar(FullPath(given));
    auto fs = MakeFileSystem();
    if (!IsFolder(folder)) {
        terminal.Err("packmeter-cli: " + given + ": no such folder\n");
        return 2;
    }
    if (!fs->OpenFolder(folder)) {
        terminal.Err("packmeter-cli: " + given +
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
            terminal.Err("\r\033[K" + ToDisplayText(scan.Progress().CurrentScanFolder()));
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
    terminal.Out(Render(report, options.format));
    return 0;
}

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
    Report report;
    // Rows name their own full path when the paths lie in different folders.
    bool oneFolder = true;
    for (const std::string& path : paths) {
        oneFolder = oneFolder && SplitPath(path).parent == SplitPath(paths.front()).parent;
    }
    int result = 0;
    for (std::size_t i = 0; i < paths.size() && !stopRequested; ++i) {
        const PathParts parts = SplitPath(paths[i]);
        if (report.folder.empty()) {
            report.folder = parts.parent;
            // The volume of the path itself: a mount root named here is its own volume.
            report.volume = fs->GetVolumeInfo(paths[i]);
            ShowNotice(report.volume, terminal);
        }
        std::vector<CompressionFailure> failures;
        auto row =
            CompressEntry(*fs, parts.parent, parts.name, decompress, -1, &failures, &stopRequested);
        for (const CompressionFailure& failure : failures) {
            terminal.Err("packmeter-cli: " + failure.path + ": cannot " + options.command +
                         (failure.reason.empty() ? "" : ": " + failure.reason) + "\n");
            result = 1;
        }
        if (!row) {
            result = stopRequested ? result : 1;
            break;
        }
        if (!oneFolder) {
            row->name = paths[i];
            row->caption = ToDisplayText(paths[i]);
        }
        report.rows.push_back(std::move(*row));
    }
    terminal.Out(Render(report, options.format));
    if (stopRequested) {
        const int signal = stopSignal.load();
        terminal.Err(std::string("packmeter-cli: ") +
                     (signal == SIGTERM ? "terminated" : "interrupted") +
                     "; entries not listed were not switched\n");
        return 128 + signal;
    }
    return result;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, Terminal& terminal) {
    Options options;
    std::string error;
    if (!ParseArgs(args, options, error)) {
        terminal.Err("packmeter-cli: " + error + "\n" + kUsage);
        return 2;
    }
    return options.command.empty() ? Scan(options, terminal) : Compress(options, terminal);
}

}  // namespace packmeter::cli

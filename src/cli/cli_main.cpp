#include "cli/cli_main.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>

#include "cli/cli_output.hpp"
#include "core/app/command_progress.hpp"
#include "core/app/compress_command.hpp"
#include "core/app/list_order.hpp"
#include "core/app/row_hint.hpp"
#include "core/listview/list_item.hpp"
#include "core/scan/scan.hpp"
#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"
#include "core/utils/version.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

namespace {

// Writes to standard output; false, with a message on stderr, when the text could not be written
// in full (a full disk, a closed pipe).
bool Write(const std::string& text, Terminal& terminal) {
    if (terminal.Out(text)) {
        return true;
    }
    const std::string reason = terminal.OutError();
    terminal.Err("packmeter-cli: cannot write the output" + (reason.empty() ? "" : ": " + reason) +
                 "\n");
    return false;
}

#ifdef _WIN32
constexpr bool kSlashHelp = true;  // "/?" asks for help as with every Windows command
#else
constexpr bool kSlashHelp = false;
#endif

constexpr const char* kUsage =
    "usage: packmeter-cli [OPTION]... [--] [FOLDER]\n"
    "       packmeter-cli [OPTION]... compress|decompress [--] PATH...\n";

std::string HelpText() {
    const std::string separator(1, kPathSeparator);
    return std::string(kUsage) +
           "\n"
           "Measures every entry directly inside FOLDER (default: the current folder): its size,\n"
           "the space it takes on disk after file-system compression, and the saving ratio.\n"
           "\n"
           "Commands:\n"
           "  (none)      scan FOLDER: its totals and volume, then one row per entry\n"
           "  compress    switch compression on for each PATH (a folder with everything below\n"
           "              it, each folder before its contents) and print the updated rows\n"
           "  decompress  switch compression off in the same way\n"
           "\n"
           "Options:\n"
           "  --format FORMAT  table (default), tsv or json\n"
           "  --sort COLUMN    name, size, compressed or ratio, ordered as the window orders\n"
           "                   that column (by name: files before folders)\n"
           "  --reverse        the other way round (without --sort: the listing order reversed)\n"
           "  -h, --help       show this help and exit\n" +
           (kSlashHelp ? "  /?               the same\n" : "") +
           "  --version        show the product and file version and exit\n"
           "  --               end of options: every later argument is a path\n"
           "\n"
           "Formats:\n"
           "  table  the folder, its totals and volume, then aligned rows; folders end in '" +
           separator +
           "',\n"
           "         control characters in names are shown escaped (\\x1b), links, mount\n"
           "         points and entries that could not be read are noted in brackets\n"
           "  tsv    a heading line, then Name, Size, Compresed and Ratio, tab-separated, one\n"
           "         line per row; names escape \\\\ \\t \\n \\r, and other control bytes and\n"
           "         bytes that are not UTF-8 as \\xNN\n"
           "  json   folder, file_system, supports_compression, totals and entries; byte counts\n"
           "         as integers; name_bytes (base64) holds the exact bytes of a name that is\n"
           "         not valid UTF-8; kind (file, folder, link, mount, special) and unreadable\n"
           "\n"
           "Exit status:\n"
           "  0  success; entries that could not be read are reported on stderr and in the\n"
           "     output but do not fail a scan\n"
           "  1  some entry could not be switched\n"
           "  2  bad usage, a folder that cannot be read, or output that cannot be written\n";
}

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
    int sortColumn = -1;  // a column of the window's list, or -1 for the listing order
    bool reverse = false;
    bool help = false;
    bool version = false;
    std::string command;  // empty (scan), "compress" or "decompress"
    std::vector<std::string> paths;
};

// The value of "--name VALUE" or "--name=VALUE" at args[i] (advancing i past it), or nothing
// (with `error` set) when it is missing.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       const std::string& name, std::string& error) {
    const std::string& arg = args[i];
    if (arg.size() > name.size()) {
        return arg.substr(name.size() + 1);
    }
    if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
    }
    return args[++i];
}

bool IsOption(const std::string& arg, const std::string& name) {
    return arg == name ||
           (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
}

bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error) {
    bool onlyPaths = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPaths) {
            options.paths.push_back(arg);
        } else if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--help" || arg == "-h" || (kSlashHelp && arg == "/?")) {
            options.help = true;
            return true;
        } else if (arg == "--version") {
            options.version = true;
            return true;
        } else if (arg == "--reverse") {
            options.reverse = true;
        } else if (IsOption(arg, "--format")) {
            const auto value = OptionValue(args, i, "--format", error);
            if (!value) {
                error += ": table, tsv or json";
                return false;
            }
            if (*value == "table") {
                options.format = Format::kTable;
            } else if (*value == "tsv") {
                options.format = Format::kTsv;
            } else if (*value == "json") {
                options.format = Format::kJson;
            } else {
                error =
                    "unknown format '" + ToSafeDisplayText(*value) + "': use table, tsv or json";
                return false;
            }
        } else if (IsOption(arg, "--sort")) {
            const auto value = OptionValue(args, i, "--sort", error);
            if (!value) {
                error += ": name, size, compressed or ratio";
                return false;
            }
            if (*value == "name") {
                options.sortColumn = kNameColumn;
            } else if (*value == "size") {
                options.sortColumn = kSizeColumn;
            } else if (*value == "compressed") {
                options.sortColumn = kCompressedColumn;
            } else if (*value == "ratio") {
                options.sortColumn = kRatioColumn;
            } else {
                error = "unknown column '" + ToSafeDisplayText(*value) +
                        "': use name, size, compressed or ratio";
                return false;
            }
        } else if (arg.size() > 1 && arg.front() == '-') {
            error = "unknown option '" + ToSafeDisplayText(arg) + "'";
            return false;
        } else if (options.command.empty() && options.paths.empty() &&
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

// The rows in the order the window shows them after a click on the column's header (a second
// click for --reverse); without a column, in the order they were listed.
// Puts the rows (and their volumes, when given) in the order the options ask for.
void OrderRows(Report& report, const Options& options) {
    std::vector<EntryRow>& rows = report.rows;
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (options.sortColumn >= 0) {
        std::vector<ListItem> items;
        items.reserve(rows.size());
        for (const EntryRow& row : rows) {
            items.push_back(EntryItem(row));
        }
        const TSortOption direction = options.reverse ? soDescending : soAscending;
        order = SortedOrder(items, [&](const ListItem& a, const ListItem& b) {
            return ListCompare(a, b, options.sortColumn, direction);
        });
    } else if (options.reverse) {
        std::reverse(order.begin(), order.end());
    }
    std::vector<EntryRow> sorted;
    std::vector<VolumeInfo> volumes;
    for (const std::size_t at : order) {
        sorted.push_back(std::move(rows[at]));
        if (at < report.rowVolumes.size()) {
            volumes.push_back(std::move(report.rowVolumes[at]));
        }
    }
    rows = std::move(sorted);
    report.rowVolumes = std::move(volumes);
}

// Writes the report; a failed write turns any result into 2.
int Print(Report& report, const Options& options, Terminal& terminal, int result) {
    OrderRows(report, options);
    return Write(Render(report, options.format), terminal) ? result : 2;
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
    if (given.empty() || !IsFolder(folder)) {
        terminal.Err("packmeter-cli: " + ToSafeDisplayText(given) + ": no such folder\n");
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
            terminal.Err("\r\033[K" + ToSafeDisplayText(scan.Progress().CurrentScanFolder()));
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
    return Print(report, options, terminal, 0);
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

}  // namespace

int RunCli(const std::vector<std::string>& args, Terminal& terminal) {
    Options options;
    std::string error;
    if (!ParseArgs(args, options, error)) {
        terminal.Err("packmeter-cli: " + error + "\n" + kUsage +
                     "Try 'packmeter-cli --help' for more information.\n");
        return 2;
    }
    if (options.help) {
        return Write(HelpText(), terminal) ? 0 : 2;
    }
    if (options.version) {
        return Write("packmeter-cli (" + std::string(kApplicationTitle) + ") " + kProductVersion +
                         "\nFile version " + kFileVersion + "\n",
                     terminal)
                   ? 0
                   : 2;
    }
    return options.command.empty() ? Scan(options, terminal) : Compress(options, terminal);
}

}  // namespace packmeter::cli

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/cli_commands.hpp"
#include "core/utils/compression.hpp"
#include "core/utils/forecast.hpp"
#include "core/utils/program_thread.hpp"
#include "core/utils/size_text.hpp"
#include "core/utils/text.hpp"
#include "platform/chunk_codecs.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

namespace {

// SIGINT and SIGTERM end the forecast after the piece being read; nothing is changed anyway.
std::atomic<bool> estimateStop{false};

extern "C" void StopEstimate(int) {
    estimateStop.store(true);
}

class EstimateSignals {
  public:
    EstimateSignals() {
        estimateStop.store(false);
        interrupt_ = std::signal(SIGINT, StopEstimate);
        terminate_ = std::signal(SIGTERM, StopEstimate);
    }
    EstimateSignals(const EstimateSignals&) = delete;
    EstimateSignals& operator=(const EstimateSignals&) = delete;
    ~EstimateSignals() {
        std::signal(SIGINT, interrupt_);
        std::signal(SIGTERM, terminate_);
    }

  private:
    void (*interrupt_)(int) = SIG_DFL;
    void (*terminate_)(int) = SIG_DFL;
};

std::string Percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", value);
    return text;
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Columns are counted in characters: UTF-8 continuation bytes take none.
std::size_t Columns(const std::string& text) {
    std::size_t columns = 0;
    for (const char c : text) {
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return columns;
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::size_t length = Columns(text);
    if (length >= width) {
        return text;
    }
    const std::string fill(width - length, ' ');
    return right ? fill + text : text + fill;
}

struct Shown {
    std::string name;
    std::string fileSystem;
    bool folder = false;
    ForecastSizes sizes;
};

std::string RenderEstimateTable(const std::vector<Shown>& rows, const Shown& totals,
                                const std::string& method, bool quick) {
    const std::string separator(1, kPathSeparator);
    std::vector<std::vector<std::string>> cells = {
        {"Name", "Size", "On disk", "Forecast", "Saving"}};
    auto add = [&](const Shown& row, const std::string& name) {
        std::vector<std::string> shown =
            FormatSizesAlike(0, {row.sizes.size, row.sizes.onDiskNow, row.sizes.forecast});
        cells.push_back({name, std::move(shown[0]), std::move(shown[1]), std::move(shown[2]),
                         Percent(SavingPercent(row.sizes.size, row.sizes.forecast))});
    };
    for (const Shown& row : rows) {
        std::string name = ToSafeDisplayText(row.name) + (row.folder ? separator : "");
        if (row.sizes.unreadable > 0) {
            name += " [" + std::to_string(row.sizes.unreadable) + " unreadable]";
        }
        if (!row.fileSystem.empty()) {
            name += " (" + row.fileSystem + ")";
        }
        add(row, name);
    }
    add(totals, "Total");
    std::vector<std::size_t> widths(5, 0);
    for (const auto& line : cells) {
        for (std::size_t c = 0; c < line.size(); ++c) {
            widths[c] = std::max(widths[c], Columns(line[c]));
        }
    }
    std::string out = "Forecast of compressing with " +
                      (method == "default" ? std::string("zstd:3") : method) +
                      " on btrfs, LZNT1 on NTFS" + (quick ? " (quick: sampled)" : "") + "\n";
    for (std::size_t r = 0; r < cells.size(); ++r) {
        if (r + 1 == cells.size()) {
            out += std::string(widths[0], '-') + "\n";
        }
        for (std::size_t c = 0; c < cells[r].size(); ++c) {
            out += Pad(cells[r][c], widths[c], c > 0) + (c + 1 < cells[r].size() ? "  " : "\n");
        }
    }
    return out;
}

std::string RenderEstimateTsv(const std::vector<Shown>& rows) {
    std::string out = "Name\tSize\tOn disk\tForecast\tSaving\n";
    for (const Shown& row : rows) {
        out += TsvField(row.name) + "\t" + std::to_string(row.sizes.size) + "\t" +
               std::to_string(row.sizes.onDiskNow) + "\t" + std::to_string(row.sizes.forecast) +
               "\t" + Fixed(SavingPercent(row.sizes.size, row.sizes.forecast)) + "\n";
    }
    return out;
}

std::string JsonSizes(const ForecastSizes& sizes) {
    return "\"size\": " + std::to_string(sizes.size) +
           ", \"on_disk\": " + std::to_string(sizes.onDiskNow) +
           ", \"forecast_on_disk\": " + std::to_string(sizes.forecast) +
           ", \"forecast_saving_percent\": " + Fixed(SavingPercent(sizes.size, sizes.forecast)) +
           ", \"files\": " + std::to_string(sizes.files) +
           ", \"unreadable\": " + std::to_string(sizes.unreadable);
}

std::string RenderEstimateJson(const std::vector<Shown>& rows, const Shown& totals,
                               const std::string& method, bool quick) {
    std::string out = "{\n  \"method\": " + JsonString(method) +
                      ",\n  \"quick\": " + (quick ? "true" : "false") + ",\n  \"totals\": {" +
                      JsonSizes(totals.sizes) + "},\n  \"entries\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Shown& row = rows[i];
        out += std::string(i ? "," : "") + "\n    {\"name\": " + JsonString(row.name);
        if (!IsValidUtf8(row.name)) {
            out += ", \"name_bytes\": \"" + Base64(row.name) + "\"";
        }
        out += ", \"kind\": " + JsonString(row.folder ? "folder" : "file") +
               ", \"file_system\": " + JsonString(row.fileSystem) + ", " + JsonSizes(row.sizes) +
               "}";
    }
    out += std::string(rows.empty() ? "" : "\n  ") + "]\n}\n";
    return out;
}

}  // namespace

int Estimate(const Options& options, Terminal& terminal) {
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
    const auto fs = MakeFileSystem();
    std::vector<VolumeInfo> volumes;
    for (const std::string& path : paths) {
        volumes.push_back(fs->GetVolumeInfo(path));
    }
    NoteIgnoredAlgorithm(options, volumes, terminal);
    const EstimateSignals signals;
    ForecastRequest request;
    request.method = options.choice;
    request.quick = options.quick;
    ForecastProgress progress;
    std::vector<ForecastRow> rows;
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    bool complete = false;
    std::thread worker = StartProgramThread("forecast", [&] {
        const bool whole =
            ForecastPaths(*fs, paths, request, MakeChunkCompressor, rows, &progress, &estimateStop);
        const std::lock_guard lock(mutex);
        complete = whole;
        finished = true;
        ended.notify_all();
    });
    // The share read so far, on an interactive terminal, five times a second; the result as soon
    // as the forecast ends.
    bool shown = false;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (ended.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished; })) {
                break;
            }
        }
        if (terminal.ErrIsInteractive()) {
            const std::int64_t total = progress.total.load();
            const std::int64_t done = progress.done.load();
            terminal.Err("\r\033[KEstimating... " + FormatSize(0, done) + " of " +
                         FormatSize(0, total) + " read");
            shown = true;
        }
    }
    worker.join();
    if (shown) {
        terminal.Err("\r\033[K");
    }
    if (!complete) {
        terminal.Err("packmeter-cli: estimate interrupted\n");
        return 130;
    }
    // Rows are named as given when the paths lie in different folders.
    bool oneFolder = true;
    for (const std::string& path : paths) {
        oneFolder = oneFolder && SplitPath(path).parent == SplitPath(paths.front()).parent;
    }
    std::vector<Shown> shownRows;
    Shown totals;
    int result = 0;
    for (const ForecastRow& row : rows) {
        if (!row.found) {
            terminal.Err("packmeter-cli: " + ToSafeDisplayText(row.path) + ": cannot be read\n");
            result = 2;
            continue;
        }
        Shown line;
        line.name = oneFolder ? SplitPath(row.path).name : row.path;
        const std::string fileSystem =
            row.fileSystem.empty() ? std::string("unknown file system") : row.fileSystem;
        line.fileSystem = RulesForFileSystem(row.fileSystem) == ForecastRules::kNone
                              ? fileSystem + ": compresses nothing"
                              : fileSystem;
        line.folder = row.folder;
        line.sizes = row.sizes;
        totals.sizes.size += row.sizes.size;
        totals.sizes.onDiskNow += row.sizes.onDiskNow;
        totals.sizes.forecast += row.sizes.forecast;
        totals.sizes.files += row.sizes.files;
        totals.sizes.unreadable += row.sizes.unreadable;
        shownRows.push_back(std::move(line));
    }
    if (totals.sizes.unreadable > 0) {
        terminal.Err("packmeter-cli: " + std::to_string(totals.sizes.unreadable) +
                     " entries could not be read; they are forecast as they are now\n");
    }
    const std::string method = CompressionMethodText(options.choice);
    std::string text;
    switch (options.format) {
        case Format::kTable:
            text = RenderEstimateTable(shownRows, totals, method, options.quick);
            break;
        case Format::kTsv:
            text = RenderEstimateTsv(shownRows);
            break;
        case Format::kJson:
            text = RenderEstimateJson(shownRows, totals, method, options.quick);
            break;
    }
    return Write(text, terminal) ? result : 2;
}

}  // namespace packmeter::cli

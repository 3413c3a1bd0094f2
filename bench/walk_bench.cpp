// Times the folder walk against `du -s` (and `compsize -b` where asked) on the same trees in the
// same run: paired, interleaved runs of whole processes, warm (after an untimed first pass) and
// optionally cold (page cache dropped before every run, root only). Prints each ratio to du as
// the median of the pairs with its spread, the CPU time ratio, the peak memory and the load
// average (at least 9 pairs).
//
//   walk_bench generate FOLDER COUNT      makes a tree of COUNT small files in 20,000 folders
//   walk_bench time [--runs N] [--cold] [--compsize] --cli PROGRAM TREE...

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/scan/folder_walk.hpp"
#include "core/scan/scan.hpp"
#include "core/scan/tree_measurer.hpp"
#include "platform/system.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct ProcessRun {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system
    long peakKiB = 0;
    bool ok = false;
};

// Runs a program with its output discarded; wall time and the child's peak RSS.
ProcessRun RunProcess(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ProcessRun run;
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return run;
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

double Time(const std::function<void()>& body) {
    const auto start = Clock::now();
    body();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class NullOutput final : public packmeter::ScanOutput {
  public:
    void ScanBusy(bool) override {}
    void AddRow(packmeter::EntryRow) override { ++rows; }
    void SetTotals(packmeter::ScanTotals) override {}
    long rows = 0;
};

// 20 × 20 × 50 = 20,000 leaf folders (20,420 in all), the files spread evenly over the leaves;
// sizes up to 8 KiB, so most files take one or two blocks.
int Generate(const std::string& root, long count) {
    constexpr int kFanout[] = {20, 20, 50};
    constexpr long kLeaves = 20 * 20 * 50;
    std::mt19937 random(42);
    std::vector<char> data(8192, 'x');
    long made = 0;
    ::mkdir(root.c_str(), 0755);
    const long perLeaf = (count + kLeaves - 1) / kLeaves;
    for (int a = 0; a < kFanout[0]; ++a) {
        const std::string da = root + "/d" + std::to_string(a);
        ::mkdir(da.c_str(), 0755);
        for (int b = 0; b < kFanout[1]; ++b) {
            const std::string db = da + "/d" + std::to_string(b);
            ::mkdir(db.c_str(), 0755);
            for (int c = 0; c < kFanout[2]; ++c) {
                const std::string dc = db + "/d" + std::to_string(c);
                ::mkdir(dc.c_str(), 0755);
                for (long f = 0; f < perLeaf && made < count; ++f, ++made) {
                    const std::string file = dc + "/file" + std::to_string(f) + ".dat";
                    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    if (fd < 0 || ::write(fd, data.data(), random() % data.size()) < 0) {
                        std::perror(file.c_str());
                        return 1;
                    }
                    ::close(fd);
                }
            }
        }
    }
    std::printf("generated %ld files below %s\n", made, root.c_str());
    return 0;
}

// Entries below a folder, counted through the back end itself.
long CountEntries(packmeter::Folder& folder) {
    long count = 0;
    folder.List(packmeter::ListDetail::kSizes, [&](const packmeter::Entry& entry) {
        ++count;
        if (entry.folder && entry.enterable) {
            if (const auto sub = folder.OpenSubfolder(entry.name)) {
                count += CountEntries(*sub);
            }
        }
        return true;
    });
    return count;
}

bool DropCaches() {
    ::sync();
    FILE* drop = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!drop) {
        return false;
    }
    const bool done = std::fputs("3", drop) >= 0;
    return std::fclose(drop) == 0 && done;
}

struct Paired {
    std::vector<double> ratios;     // walker time / reference time, per pair
    std::vector<double> cpuRatios;  // the same for CPU time
    std::vector<double> seconds;
    std::vector<double> reference;
    long peakKiB = 0;
};

// `runs` pairs of (reference, walker), alternating which goes first, each run cold if asked.
Paired RunPairs(int runs, bool cold, const std::vector<std::string>& reference,
                const std::vector<std::string>& walker) {
    Paired paired;
    for (int run = 0; run < runs; ++run) {
        ProcessRun r;
        ProcessRun w;
        for (int turn = 0; turn < 2; ++turn) {
            const bool walkerTurn = (turn == 0) == (run % 2 == 1);
            if (cold && !DropCaches()) {
                std::fprintf(stderr, "cannot drop the page cache (needs root)\n");
                std::exit(1);
            }
            (walkerTurn ? w : r) = RunProcess(walkerTurn ? walker : reference);
        }
        paired.ratios.push_back(w.seconds / r.seconds);
        paired.cpuRatios.push_back(w.cpuSeconds / std::max(r.cpuSeconds, 1e-3));
        paired.seconds.push_back(w.seconds);
        paired.reference.push_back(r.seconds);
        paired.peakKiB = std::max(paired.peakKiB, w.peakKiB);
    }
    return paired;
}

// The load average over the last minute, 5 and 15 minutes, as the kernel gives it.
std::string LoadAverage() {
    std::string text = "?";
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        char buffer[64] = {};
        if (std::fgets(buffer, sizeof buffer, file)) {
            text = buffer;
            // The first three fields only.
            std::size_t end = 0;
            for (int field = 0; field < 3 && end != std::string::npos; ++field) {
                end = text.find(' ', end + (field ? 1 : 0));
            }
            text = text.substr(0, end);
        }
        std::fclose(file);
    }
    return text;
}

double Min(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}
double Max(const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
}

// One line: the walker's time min/median/max, the reference's median, the ratio's
// min/median/max, the CPU ratio, the peak memory and the load average once the pairs ended.
void Report(const char* what, const char* against, const Paired& p) {
    std::printf(
        "  %-22s %6.3f/%6.3f/%6.3f s (%s %6.3f s)  %5.2f x %s [%.2f-%.2f]  CPU %4.2f x  "
        "peak %.1f MiB  load %s\n",
        what, Min(p.seconds), Median(p.seconds), Max(p.seconds), against, Median(p.reference),
        Median(p.ratios), against, Min(p.ratios), Max(p.ratios), Median(p.cpuRatios),
        p.peakKiB / 1024.0, LoadAverage().c_str());
    std::fflush(stdout);
}

int TimeTrees(int runs, bool cold, bool compsize, const std::string& cli,
              const std::vector<std::string>& trees) {
    const auto fs = packmeter::MakeFileSystem();
    for (const std::string& tree : trees) {
        const auto top = fs->OpenFolder(tree);
        if (!top) {
            std::fprintf(stderr, "%s: cannot open\n", tree.c_str());
            return 1;
        }
        const std::vector<std::string> du = {"du", "-s", tree};
        const std::vector<std::string> walker = {cli, "--format", "json", tree};
        // Warm-up: every walker once, untimed; the sequential walk also gives the sizes.
        RunProcess(du);
        RunProcess(walker);
        const packmeter::FolderSizes sizes = packmeter::GetFolderSizes(*fs, tree);
        std::printf(
            "%s: %ld entries, %.1f MiB logical, %.1f MiB on disk; %d pairs (times min/median/max); "
            "load %s\n",
            tree.c_str(), CountEntries(*top), sizes.logical / 1048576.0, sizes.onDisk / 1048576.0,
            runs, LoadAverage().c_str());
        // In-process, for the thread count's share: the sequential walk and the scan.
        std::vector<double> walk, scan;
        for (int run = 0; run < runs; ++run) {
            walk.push_back(Time([&] { packmeter::GetFolderSizes(*fs, tree); }));
            scan.push_back(Time([&] {
                packmeter::TScan worker(tree, std::make_shared<NullOutput>(), fs);
                worker.Execute();
            }));
        }
        std::printf("  in process: GetFolderSizes (1 thread) %.3f s, TScan (%u threads) %.3f s\n",
                    Median(walk), packmeter::TreeMeasurer::DefaultThreads(), Median(scan));
        Report("packmeter-cli, warm", "du", RunPairs(runs, false, du, walker));
        if (cold) {
            Report("packmeter-cli, cold", "du", RunPairs(runs, true, du, walker));
        }
        if (compsize) {
            const std::vector<std::string> cs = {"compsize", "-b", tree};
            RunProcess(cs);
            Report("packmeter-cli, warm", "compsize", RunPairs(runs, false, cs, walker));
            Report("compsize -b, warm", "du", RunPairs(runs, false, du, cs));
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "generate") {
        return Generate(args[1], std::atol(args[2].c_str()));
    }
    if (!args.empty() && args[0] == "time") {
        int runs = 9;
        bool cold = false;
        bool compsize = false;
        std::string cli;
        std::vector<std::string> trees;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--runs" && i + 1 < args.size()) {
                // Fewer than 9 pairs give no median worth the name on a shared machine.
                runs = std::max(9, std::atoi(args[++i].c_str()));
            } else if (args[i] == "--cold") {
                cold = true;
            } else if (args[i] == "--compsize") {
                compsize = true;
            } else if (args[i] == "--cli" && i + 1 < args.size()) {
                cli = args[++i];
            } else {
                trees.push_back(args[i]);
            }
        }
        if (!trees.empty() && !cli.empty()) {
            return TimeTrees(runs, cold, compsize, cli, trees);
        }
    }
    std::fprintf(stderr,
                 "usage: walk_bench generate FOLDER COUNT\n"
                 "       walk_bench time [--runs N] [--cold] [--compsize] --cli PROGRAM TREE...\n");
    return 2;
}

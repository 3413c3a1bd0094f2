// Times the folder walk against `du -s` on the same trees in the same run, warm (after a first
// untimed pass), as medians of several runs, and reports the peak memory of each walker.
//
//   walk_bench generate FOLDER COUNT      makes a tree of COUNT small files below FOLDER
//   walk_bench time [--runs N] [--cli PROGRAM] TREE...

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

long PeakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class NullOutput final : public packmeter::ScanOutput {
  public:
    void ScanBusy(bool) override {}
    void AddRow(packmeter::EntryRow) override { ++rows; }
    void SetTotals(packmeter::ScanTotals) override {}
    long rows = 0;
};

// 20 folders per level, three levels deep, files spread over the 8,000 leaves; sizes up to
// 8 KiB, so most files take one or two blocks.
int Generate(const std::string& root, long count) {
    constexpr int kFanout = 20;
    std::mt19937 random(42);
    std::vector<char> data(8192, 'x');
    long made = 0;
    ::mkdir(root.c_str(), 0755);
    const long perLeaf = (count + kFanout * kFanout * kFanout - 1) / (kFanout * kFanout * kFanout);
    for (int a = 0; a < kFanout; ++a) {
        const std::string da = root + "/d" + std::to_string(a);
        ::mkdir(da.c_str(), 0755);
        for (int b = 0; b < kFanout; ++b) {
            const std::string db = da + "/d" + std::to_string(b);
            ::mkdir(db.c_str(), 0755);
            for (int c = 0; c < kFanout && made < count; ++c) {
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

void Report(const char* what, double seconds, double du, const std::string& extra = {}) {
    std::printf("  %-26s %8.3f s  %5.2f x du%s\n", what, seconds, seconds / du, extra.c_str());
}

int TimeTrees(int runs, const std::string& cli, const std::vector<std::string>& trees) {
    const auto fs = packmeter::MakeFileSystem();
    const unsigned threads = packmeter::TreeMeasurer::DefaultThreads();
    const long startKiB = PeakKiB();
    for (const std::string& tree : trees) {
        const auto top = fs->OpenFolder(tree);
        if (!top) {
            std::fprintf(stderr, "%s: cannot open\n", tree.c_str());
            return 1;
        }
        std::int64_t logical = 0, onDisk = 0;
        // Warm-up: every walker once, untimed.
        RunProcess({"du", "-s", tree});
        packmeter::GetFolderSizes(*fs, tree, logical, onDisk, packmeter::kMeasure);
        if (!cli.empty()) {
            RunProcess({cli, "--format", "tsv", tree});
        }
        std::vector<double> du, walk, scan, whole;
        long cliPeak = 0;
        for (int run = 0; run < runs; ++run) {
            du.push_back(RunProcess({"du", "-s", tree}).seconds);
            walk.push_back(Time([&] {
                logical = onDisk = 0;
                packmeter::GetFolderSizes(*fs, tree, logical, onDisk, packmeter::kMeasure);
            }));
            scan.push_back(Time([&] {
                packmeter::TScan worker(tree, std::make_shared<NullOutput>(), fs);
                worker.Execute();
            }));
            if (!cli.empty()) {
                const ProcessRun r = RunProcess({cli, "--format", "tsv", tree});
                whole.push_back(r.seconds);
                cliPeak = std::max(cliPeak, r.peakKiB);
            }
        }
        const double d = Median(du);
        std::printf("%s: %ld entries, %.1f MiB logical, %.1f MiB on disk; warm, median of %d\n",
                    tree.c_str(), CountEntries(*top), logical / 1048576.0, onDisk / 1048576.0,
                    runs);
        Report("du -s", d, d);
        Report("GetFolderSizes, 1 thread", Median(walk), d);
        Report(("scan (TScan), " + std::to_string(threads) + " threads").c_str(), Median(scan), d);
        if (!whole.empty()) {
            char peak[64];
            std::snprintf(peak, sizeof peak, "  peak RSS %.1f MiB", cliPeak / 1024.0);
            Report("packmeter-cli process", Median(whole), d, peak);
        }
    }
    std::printf("peak RSS of the in-process walks: %.1f MiB (%.1f MiB before them)\n",
                PeakKiB() / 1024.0, startKiB / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "generate") {
        return Generate(args[1], std::atol(args[2].c_str()));
    }
    if (!args.empty() && args[0] == "time") {
        int runs = 5;
        std::string cli;
        std::vector<std::string> trees;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--runs" && i + 1 < args.size()) {
                runs = std::max(1, std::atoi(args[++i].c_str()));
            } else if (args[i] == "--cli" && i + 1 < args.size()) {
                cli = args[++i];
            } else {
                trees.push_back(args[i]);
            }
        }
        if (!trees.empty()) {
            return TimeTrees(runs, cli, trees);
        }
    }
    std::fprintf(stderr,
                 "usage: walk_bench generate FOLDER COUNT\n"
                 "       walk_bench time [--runs N] [--cli PROGRAM] TREE...\n");
    return 2;
}

#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/folder_walk.hpp"

namespace packmeter {

// Measures folder trees like GetFolderSizes in its measuring mode, with helper threads: the
// calling thread walks depth-first and hands a freshly opened sub-folder to a helper whenever
// one is idle, so lopsided trees balance and open folders stay near depth plus helpers.
// Back-end folders must tolerate being used by another thread than the one that opened them.
class TreeMeasurer {
  public:
    // A measurer with `threads` walking threads in all (the caller included); 1 walks alone.
    explicit TreeMeasurer(unsigned threads);
    ~TreeMeasurer();
    TreeMeasurer(const TreeMeasurer&) = delete;
    TreeMeasurer& operator=(const TreeMeasurer&) = delete;

    // Adds the sizes of every file below `folder` (named `path`, trailing separator) to the
    // totals; gives up at the next entry once `stop` is set. One call at a time.
    void Measure(Folder& folder, const std::string& path, std::int64_t& logical,
                 std::int64_t& onDisk, const StopFlag* stop);

    // The entries that the last Measure could not read: folders that could not be opened or
    // listed, and entries whose kind and sizes could not be read.
    std::int64_t Unreadable() const { return unreadable_; }

    // The number of walking threads that suits this machine.
    static unsigned DefaultThreads();

  private:
    struct Job {
        std::unique_ptr<Folder> folder;
        std::string path;
    };
    struct Sums {
        std::int64_t logical = 0;
        std::int64_t onDisk = 0;
        std::int64_t unreadable = 0;
    };

    void Walk(Folder& folder, const std::string& path, Sums& sums);
    bool Offer(std::unique_ptr<Folder>& folder, const std::string& path);
    void RunJob(Job job);
    void HelperLoop();

    std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable finished_;
    std::deque<Job> queue_;
    unsigned idle_ = 0;         // helpers waiting for work
    unsigned outstanding_ = 0;  // jobs queued or running
    bool quit_ = false;
    Sums sums_;
    std::int64_t unreadable_ = 0;
    const StopFlag* stop_ = nullptr;
    std::vector<std::thread> helpers_;
};

}  // namespace packmeter

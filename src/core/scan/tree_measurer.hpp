#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/folder_walk.hpp"

namespace packmeter {

// One sub-folder whose tree is to be measured: its name in the parent, and whether it is
// entered at all (links and mount points are not: they measure 0).
struct TreeRoot {
    std::string name;
    bool enterable = false;
};

// Measures folder trees like GetFolderSizes in its measuring mode, on several threads that
// share one queue of work. Every thread starts the next tree when it has nothing else to do
// and otherwise walks depth-first, listing a folder before it enters its sub-folders; whenever
// another thread is idle, a walker hands it the later half of the sub-folders still ahead of
// it, so lopsided trees balance in few hand-offs and open folders stay near depth plus threads. The
// sums do not depend on the number of threads: a file with several links counts once per tree,
// whichever of its names is met first. Back-end folders must tolerate being used by another thread
// than the one that opened them, and a folder's OpenSubfolder being called from several threads at
// once.
class TreeMeasurer {
  public:
    // A measurer with `threads` walking threads in all (the caller included); 1 walks alone.
    explicit TreeMeasurer(unsigned threads);
    ~TreeMeasurer();
    TreeMeasurer(const TreeMeasurer&) = delete;
    TreeMeasurer& operator=(const TreeMeasurer&) = delete;

    // Called on the measuring thread for each tree in the order given, as soon as it and every
    // tree before it are measured: its index, its sizes (a linked file once within the tree),
    // and the part of them that `all` had not counted before (a linked file once over all).
    using Measured = std::function<void(std::size_t index, const FolderSizes& sizes,
                                        const FolderSizes& newToAll)>;

    // Measures the trees of the sub-folders `roots` of `parent` (named `parentPath`, with
    // trailing separator) concurrently, reporting each to `measured`. Linked files are also
    // counted within `all`, which the caller may go on using for the sum of everything. Once
    // `stop` is set the walk is abandoned at the next entry and nothing more is reported. One
    // call at a time.
    void MeasureAll(Folder& parent, const std::string& parentPath,
                    const std::vector<TreeRoot>& roots, const StopFlag* stop,
                    ScanProgress* progress, LinkedFiles& all, const Measured& measured);

    // The sizes of one tree (`folder`, named `path`); linked files counted once within `links`.
    FolderSizes Measure(Folder& folder, const std::string& path, const StopFlag* stop,
                        ScanProgress* progress, LinkedFiles& links);

    // The number of walking threads that suits this machine.
    static unsigned DefaultThreads();

  private:
    // A piece of work: the folder itself (`self`), or the sub-folders `names` of `folder`.
    struct Job {
        std::shared_ptr<Folder> folder;
        std::string path;
        std::vector<std::string> names;
        bool self = false;
        std::size_t root = 0;
    };
    struct RootState {
        FolderSizes sizes;
        FolderSizes newToAll;
        LinkedFiles ownLinks;
        LinkedFiles* links = &ownLinks;
        unsigned pending = 0;  // jobs of this tree queued or running
        bool done = false;
    };

    void Run(const Measured& measured);
    bool HasWork() const;
    // Takes the next job; false when there is none. Called with the lock held.
    bool TakeJob(Job& job);
    void RunJob(Job& job);
    // `depth`: the folders entered below the job's own on this thread's stack.
    // The sums one job adds to its tree.
    struct JobSizes {
        FolderSizes sizes;
        FolderSizes newToAll;
    };
    void Walk(const std::shared_ptr<Folder>& folder, std::string& path, std::size_t root,
              JobSizes& sizes, unsigned depth);
    void WalkSubfolders(const std::shared_ptr<Folder>& folder, std::string& path,
                        std::vector<std::string>& names, std::size_t root, JobSizes& sizes,
                        unsigned depth);
    // Queues the sub-folders `names` of `folder` as a job of their own; with the lock held for
    // QueueLocked.
    void Queue(const std::shared_ptr<Folder>& folder, const std::string& path,
               std::vector<std::string> names, std::size_t root);
    void QueueLocked(const std::shared_ptr<Folder>& folder, const std::string& path,
                     std::vector<std::string> names, std::size_t root);
    // How many folders one job enters on its thread's stack before it hands the rest of its
    // tree on as a new job: a tree of any depth then needs no more stack than this.
    static constexpr unsigned kMaxDepth = 128;
    // Hands the later half of `names` from `next` on to an idle thread, if there is one.
    void OfferHalf(const std::shared_ptr<Folder>& folder, const std::string& path,
                   std::vector<std::string>& names, std::size_t next, std::size_t root);
    void EmitReady();
    bool Stopped() const { return packmeter::Stopped(stop_); }
    void HelperLoop();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::atomic<unsigned> idle_{0};    // threads waiting for work
    std::atomic<unsigned> queued_{0};  // jobs in the queue
    std::atomic<bool> ready_{false};   // a tree may be ready to report
    bool active_ = false;              // a measurement is running
    bool quit_ = false;
    // The measurement in progress.
    Folder* parent_ = nullptr;
    const std::string* parentPath_ = nullptr;
    const std::vector<TreeRoot>* roots_ = nullptr;
    std::unique_ptr<RootState[]> states_;
    std::size_t rootCount_ = 0;
    std::size_t nextRoot_ = 0;  // the next tree nobody has started
    std::size_t emitted_ = 0;   // trees reported so far
    const StopFlag* stop_ = nullptr;
    ScanProgress* progress_ = nullptr;
    LinkedFiles* all_ = nullptr;
    const Measured* measured_ = nullptr;
    std::thread::id caller_;
    std::vector<std::thread> helpers_;
};

}  // namespace packmeter

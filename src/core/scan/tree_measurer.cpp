#include "core/scan/tree_measurer.hpp"

#include <algorithm>

#include "core/utils/compression.hpp"
#include "core/utils/program_thread.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

TreeMeasurer::TreeMeasurer(unsigned threads) {
    for (unsigned i = 1; i < threads; ++i) {
        helpers_.push_back(StartProgramThread("TreeMeasurer", [this] { HelperLoop(); }));
    }
}

TreeMeasurer::~TreeMeasurer() {
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    for (auto& helper : helpers_) {
        helper.join();
    }
}

unsigned TreeMeasurer::DefaultThreads() {
    // Cold walks wait on the disk, so more threads than cores keep more requests in flight: on
    // two cores, eight threads walked a cold tree in about 0.6 of the time of four and cost
    // nothing warm. Beyond sixteen nothing more is gained.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(cores * 4, 4u, 16u);
}

void TreeMeasurer::MeasureAll(Folder& parent, const std::string& parentPath,
                              const std::vector<TreeRoot>& roots, const StopFlag* stop,
                              ScanProgress* progress, LinkedFiles& all, const Measured& measured) {
    {
        std::lock_guard guard(lock_);
        parent_ = &parent;
        parentPath_ = &parentPath;
        roots_ = &roots;
        rootCount_ = roots.size();
        states_ = std::make_unique<RootState[]>(rootCount_);
        nextRoot_ = 0;
        emitted_ = 0;
        stop_ = stop;
        progress_ = progress;
        all_ = &all;
        caller_ = std::this_thread::get_id();
    }
    Run(measured);
    all_ = nullptr;
}

FolderSizes TreeMeasurer::Measure(Folder& folder, const std::string& path, const StopFlag* stop,
                                  ScanProgress* progress, LinkedFiles& links) {
    {
        std::lock_guard guard(lock_);
        parent_ = nullptr;
        roots_ = nullptr;
        rootCount_ = 1;
        states_ = std::make_unique<RootState[]>(1);
        states_[0].links = &links;
        all_ = nullptr;
        states_[0].pending = 1;
        nextRoot_ = 1;  // the one tree is already open
        emitted_ = 0;
        stop_ = stop;
        progress_ = progress;
        caller_ = std::this_thread::get_id();
        // Not owned: the caller keeps it open until the measurement ends.
        queue_.push_back(
            {std::shared_ptr<Folder>(std::shared_ptr<Folder>(), &folder), path, {}, true, 0});
        ++queued_;
    }
    Run({});
    return states_[0].sizes;
}

void TreeMeasurer::Run(const Measured& measured) {
    measured_ = &measured;
    std::unique_lock guard(lock_);
    active_ = true;
    changed_.notify_all();
    const auto nextDone = [&] { return emitted_ < rootCount_ && states_[emitted_].done; };
    while (emitted_ < rootCount_) {
        Job job;
        if (nextDone()) {
            guard.unlock();
            EmitReady();
            guard.lock();
        } else if (TakeJob(job)) {
            guard.unlock();
            RunJob(job);
            guard.lock();
        } else {
            ++idle_;
            changed_.wait(guard, [&] { return HasWork() || nextDone(); });
            --idle_;
        }
    }
    active_ = false;
    measured_ = nullptr;
}

bool TreeMeasurer::HasWork() const {
    return !queue_.empty() || nextRoot_ < rootCount_;
}

bool TreeMeasurer::TakeJob(Job& job) {
    for (;;) {
        if (!queue_.empty()) {
            job = std::move(queue_.front());
            queue_.pop_front();
            --queued_;
            return true;
        }
        if (nextRoot_ >= rootCount_) {
            return false;
        }
        const std::size_t index = nextRoot_++;
        const TreeRoot& root = (*roots_)[index];
        if (root.enterable && !Stopped()) {
            states_[index].pending = 1;
            job.folder = std::shared_ptr<Folder>(std::shared_ptr<Folder>(), parent_);
            job.path = *parentPath_;
            job.names = {root.name};
            job.self = false;
            job.root = index;
            return true;
        }
        states_[index].done = true;
        ready_ = true;
        changed_.notify_all();
    }
}

void TreeMeasurer::RunJob(Job& job) {
    JobSizes sizes;
    if (job.self) {
        Walk(job.folder, job.path, job.root, sizes, 0);
    } else {
        WalkSubfolders(job.folder, job.path, job.names, job.root, sizes, 0);
    }
    job.folder.reset();
    std::lock_guard guard(lock_);
    RootState& state = states_[job.root];
    state.sizes += sizes.sizes;
    state.newToAll += sizes.newToAll;
    if (--state.pending == 0) {
        // A tree's own set is needed no more once its last job ends.
        if (state.links == &state.ownLinks) {
            state.ownLinks.Clear();
        }
        state.done = true;
        ready_ = true;
        changed_.notify_all();
    }
}

void TreeMeasurer::OfferHalf(const std::shared_ptr<Folder>& folder, const std::string& path,
                             std::vector<std::string>& names, std::size_t next, std::size_t root) {
    // Read without the lock first: most of the time every thread is busy.
    if (names.size() - next < 2 ||
        idle_.load(std::memory_order_relaxed) <= queued_.load(std::memory_order_relaxed)) {
        return;
    }
    std::lock_guard guard(lock_);
    if (idle_ <= queue_.size()) {
        return;
    }
    const std::size_t half = next + (names.size() - next) / 2;
    std::vector<std::string> later(std::make_move_iterator(names.begin() + half),
                                   std::make_move_iterator(names.end()));
    names.resize(half);
    QueueLocked(folder, path, std::move(later), root);
}

void TreeMeasurer::Queue(const std::shared_ptr<Folder>& folder, const std::string& path,
                         std::vector<std::string> names, std::size_t root) {
    std::lock_guard guard(lock_);
    QueueLocked(folder, path, std::move(names), root);
}

void TreeMeasurer::QueueLocked(const std::shared_ptr<Folder>& folder, const std::string& path,
                               std::vector<std::string> names, std::size_t root) {
    queue_.push_back({folder, path, std::move(names), false, root});
    ++queued_;
    ++states_[root].pending;
    // Any one waiting thread will do, the measuring thread included.
    changed_.notify_one();
}

void TreeMeasurer::WalkSubfolders(const std::shared_ptr<Folder>& folder, std::string& path,
                                  std::vector<std::string>& names, std::size_t root,
                                  JobSizes& sizes, unsigned depth) {
    if (depth >= kMaxDepth && !names.empty()) {
        // Deeper than one thread's stack should go: the rest of this tree becomes a job that
        // starts afresh at the bottom of some thread's stack, holding only this folder open.
        Queue(folder, path, std::move(names), root);
        names.clear();
        return;
    }
    for (std::size_t i = 0; i < names.size() && !Stopped(); ++i) {
        OfferHalf(folder, path, names, i, root);
        std::shared_ptr<Folder> sub = folder->OpenSubfolder(names[i]);
        if (!sub) {
            ++sizes.sizes.unreadable;
            continue;
        }
        const std::size_t length = path.size();
        path += names[i];
        path += kPathSeparator;
        Walk(sub, path, root, sizes, depth + 1);
        path.resize(length);
    }
}

void TreeMeasurer::Walk(const std::shared_ptr<Folder>& folder, std::string& path, std::size_t root,
                        JobSizes& sizes, unsigned depth) {
    if (progress_) {
        progress_->TrySetCurrentScanFolder(path);
    }
    // The trees finished meanwhile are reported by the measuring thread as it walks on.
    if (ready_.load(std::memory_order_relaxed) && std::this_thread::get_id() == caller_) {
        EmitReady();
    }
    LinkedFiles& links = *states_[root].links;
    // Sub-folders are entered once the listing is done, so that the later ones can be handed
    // to idle threads and the listing's buffers are freed before going deeper.
    std::vector<std::string> subfolders =
        ListForWalk(*folder, stop_, links, sizes.sizes, all_, &sizes.newToAll);
    // The folder stays open as long as a thread that was handed part of it needs it.
    WalkSubfolders(folder, path, subfolders, root, sizes, depth);
}

void TreeMeasurer::EmitReady() {
    for (;;) {
        std::size_t index = 0;
        {
            std::lock_guard guard(lock_);
            ready_ = false;
            if (emitted_ >= rootCount_ || !states_[emitted_].done) {
                return;
            }
            index = emitted_++;
        }
        if (!Stopped() && measured_ && *measured_) {
            (*measured_)(index, states_[index].sizes, states_[index].newToAll);
        }
    }
}

void TreeMeasurer::HelperLoop() {
    std::unique_lock guard(lock_);
    for (;;) {
        Job job;
        if (active_ && TakeJob(job)) {
            guard.unlock();
            RunJob(job);
            guard.lock();
            continue;
        }
        ++idle_;
        changed_.wait(guard, [&] { return quit_ || (active_ && HasWork()); });
        --idle_;
        if (quit_) {
            return;
        }
    }
}

}  // namespace packmeter

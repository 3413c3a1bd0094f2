#include "core/scan/tree_measurer.hpp"

#include <algorithm>

#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

TreeMeasurer::TreeMeasurer(unsigned threads) {
    for (unsigned i = 1; i < threads; ++i) {
        helpers_.emplace_back([this] { HelperLoop(); });
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
    // Cold walks wait on the disk, so a few more threads than cores keep more requests in
    // flight; beyond eight nothing more is gained.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(cores * 2, 2u, 8u);
}

void TreeMeasurer::MeasureAll(Folder& parent, const std::string& parentPath,
                              const std::vector<TreeRoot>& roots, const StopFlag* stop,
                              ScanProgress* progress, const Measured& measured) {
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
        caller_ = std::this_thread::get_id();
    }
    Run(measured);
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
        states_[0].pending = 1;
        nextRoot_ = 1;  // the one tree is already open
        emitted_ = 0;
        stop_ = stop;
        progress_ = progress;
        caller_ = std::this_thread::get_id();
        queue_.push_back({nullptr, &folder, path, 0});
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
        } else if (TakeJob(guard, job)) {
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

bool TreeMeasurer::TakeJob(std::unique_lock<std::mutex>& guard, Job& job) {
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
        RootState& state = states_[index];
        const TreeRoot& root = (*roots_)[index];
        if (root.enterable && !Stopped()) {
            state.pending = 1;
            guard.unlock();
            job.owned = parent_->OpenSubfolder(root.name);
            guard.lock();
            if (job.owned) {
                job.folder = job.owned.get();
                job.path = *parentPath_ + root.name + kPathSeparator;
                job.root = index;
                return true;
            }
            state.pending = 0;
        }
        state.done = true;
        ready_ = true;
        changed_.notify_all();
    }
}

void TreeMeasurer::RunJob(Job& job) {
    FolderSizes sizes;
    Walk(*job.folder, job.path, job.root, sizes);
    job.owned.reset();
    std::lock_guard guard(lock_);
    RootState& state = states_[job.root];
    state.sizes += sizes;
    if (--state.pending == 0) {
        state.done = true;
        ready_ = true;
        changed_.notify_all();
    }
}

bool TreeMeasurer::Offer(std::unique_ptr<Folder>& folder, const std::string& path,
                         std::size_t root) {
    // Read without the lock first: most sub-folders find every thread busy.
    if (idle_.load(std::memory_order_relaxed) <= queued_.load(std::memory_order_relaxed)) {
        return false;
    }
    std::lock_guard guard(lock_);
    if (idle_ <= queue_.size()) {
        return false;
    }
    Folder* raw = folder.get();
    queue_.push_back({std::move(folder), raw, path, root});
    ++queued_;
    ++states_[root].pending;
    // Any one waiting thread will do, the measuring thread included.
    changed_.notify_one();
    return true;
}

void TreeMeasurer::Walk(Folder& folder, std::string& path, std::size_t root, FolderSizes& sizes) {
    if (progress_) {
        progress_->TrySetCurrentScanFolder(path);
    }
    // The trees finished meanwhile are reported by the measuring thread as it walks on.
    if (ready_.load(std::memory_order_relaxed) && std::this_thread::get_id() == caller_) {
        EmitReady();
    }
    LinkedFiles& links = *states_[root].links;
    folder.List(ListDetail::kSizes, [&](const Entry& entry) {
        if (Stopped()) {
            return false;
        }
        if (entry.regular) {
            if (links.CountOnce(entry)) {
                sizes += {entry.size, entry.onDisk};
            }
        } else if (entry.folder && entry.enterable && !IsExcludedFolderName(entry.name)) {
            if (auto sub = folder.OpenSubfolder(entry.name)) {
                const std::size_t length = path.size();
                path += entry.name;
                path += kPathSeparator;
                if (!Offer(sub, path, root)) {
                    Walk(*sub, path, root, sizes);
                }
                path.resize(length);
            }
        }
        return true;
    });
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
            (*measured_)(index, states_[index].sizes, *states_[index].links);
        }
    }
}

void TreeMeasurer::HelperLoop() {
    std::unique_lock guard(lock_);
    for (;;) {
        Job job;
        if (active_ && TakeJob(guard, job)) {
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

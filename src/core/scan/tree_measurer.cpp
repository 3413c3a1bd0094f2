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
    work_.notify_all();
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

void TreeMeasurer::Measure(Folder& folder, const std::string& path, std::int64_t& logical,
                           std::int64_t& onDisk, const StopFlag* stop) {
    {
        std::lock_guard guard(lock_);
        stop_ = stop;
        sums_ = {};
    }
    Sums own;
    Walk(folder, path, own);
    // Help with what was handed out, then wait for the rest.
    std::unique_lock guard(lock_);
    while (outstanding_ > 0) {
        if (!queue_.empty()) {
            Job job = std::move(queue_.front());
            queue_.pop_front();
            guard.unlock();
            RunJob(std::move(job));
            guard.lock();
        } else {
            finished_.wait(guard);
        }
    }
    logical += own.logical + sums_.logical;
    onDisk += own.onDisk + sums_.onDisk;
    unreadable_ = own.unreadable + sums_.unreadable;
}

bool TreeMeasurer::Offer(std::unique_ptr<Folder>& folder, const std::string& path) {
    std::lock_guard guard(lock_);
    if (idle_ <= queue_.size()) {
        return false;
    }
    queue_.push_back({std::move(folder), path});
    ++outstanding_;
    work_.notify_one();
    return true;
}

void TreeMeasurer::Walk(Folder& folder, const std::string& path, Sums& sums) {
    SetCurrentScanFolder(path);
    const bool listed = folder.List(ListDetail::kSizes, [&](const Entry& entry) {
        if (stop_ && stop_->load(std::memory_order_relaxed)) {
            return false;
        }
        if (entry.unreadable) {
            ++sums.unreadable;
        } else if (entry.regular) {
            sums.logical += entry.size;
            sums.onDisk += entry.onDisk;
        } else if (entry.folder && entry.enterable && !IsExcludedFolderName(entry.name)) {
            if (auto sub = folder.OpenSubfolder(entry.name)) {
                std::string subPath = path;
                subPath += entry.name;
                subPath += kPathSeparator;
                if (!Offer(sub, subPath)) {
                    Walk(*sub, subPath, sums);
                }
            } else {
                ++sums.unreadable;
            }
        }
        return true;
    });
    if (!listed) {
        ++sums.unreadable;
    }
}

void TreeMeasurer::RunJob(Job job) {
    Sums sums;
    Walk(*job.folder, job.path, sums);
    job.folder.reset();
    std::lock_guard guard(lock_);
    sums_.logical += sums.logical;
    sums_.onDisk += sums.onDisk;
    sums_.unreadable += sums.unreadable;
    if (--outstanding_ == 0) {
        finished_.notify_all();
    }
}

void TreeMeasurer::HelperLoop() {
    std::unique_lock guard(lock_);
    for (;;) {
        ++idle_;
        work_.wait(guard, [&] { return quit_ || !queue_.empty(); });
        --idle_;
        if (quit_) {
            return;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        guard.unlock();
        RunJob(std::move(job));
        guard.lock();
    }
}

}  // namespace packmeter

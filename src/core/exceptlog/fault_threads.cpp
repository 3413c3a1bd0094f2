#include "core/exceptlog/fault_threads.hpp"

#include <algorithm>

#include "core/exceptlog/fault_capture.hpp"

namespace packmeter {

void TFaultThreadsList::Add(FaultThreadEntry entry) {
    std::lock_guard guard(lock_);
    entries_.push_back(std::move(entry));
}

void TFaultThreadsList::Remove(std::thread::id id) {
    std::lock_guard guard(lock_);
    std::erase_if(entries_, [&](const FaultThreadEntry& e) { return e.Id == id; });
}

bool TFaultThreadsList::Find(std::thread::id id, FaultThreadEntry& entry) const {
    std::lock_guard guard(lock_);
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const FaultThreadEntry& e) { return e.Id == id; });
    if (found == entries_.end()) {
        return false;
    }
    entry = *found;
    return true;
}

std::size_t TFaultThreadsList::Count() const {
    std::lock_guard guard(lock_);
    return entries_.size();
}

TFaultThreadsList& FaultThreads() {
    static TFaultThreadsList threads;
    return threads;
}

namespace detail {

ProgramThreadScope::ProgramThreadScope(std::string name, std::vector<std::uintptr_t> creatorStack) {
    FaultThreads().Add({std::this_thread::get_id(), std::move(name), std::move(creatorStack)});
    if (auto* platform = CurrentCapturePlatform()) {
        platform->EnterProgramThread();
    }
}

ProgramThreadScope::~ProgramThreadScope() {
    if (auto* platform = CurrentCapturePlatform()) {
        platform->LeaveProgramThread();
    }
    FaultThreads().Remove(std::this_thread::get_id());
}

std::vector<std::uintptr_t> CaptureCreator() {
    auto* platform = CurrentCapturePlatform();
    return platform ? platform->CaptureCreatorStack() : std::vector<std::uintptr_t>{};
}

}  // namespace detail

}  // namespace packmeter

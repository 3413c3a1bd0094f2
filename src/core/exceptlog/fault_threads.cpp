#include "core/exceptlog/fault_threads.hpp"

#include <algorithm>

namespace packmeter {

namespace {

// Set once while the program starts, before its first thread; read by every thread.
FaultThreadHooks gHooks;

void EnterListed(std::string name, std::vector<std::uintptr_t> creatorStack) {
    FaultThreads().Add({std::this_thread::get_id(), std::move(name), std::move(creatorStack)});
    if (gHooks.enter) {
        gHooks.enter();
    }
}

void LeaveListed() {
    if (gHooks.leave) {
        gHooks.leave();
    }
    FaultThreads().Remove(std::this_thread::get_id());
}

}  // namespace

void TFaultThreadsList::Add(TFaultThreadEntry entry) {
    std::lock_guard guard(lock_);
    entries_.push_back(std::move(entry));
}

void TFaultThreadsList::Remove(std::thread::id id) {
    std::lock_guard guard(lock_);
    std::erase_if(entries_, [&](const TFaultThreadEntry& e) { return e.Id == id; });
}

bool TFaultThreadsList::Find(std::thread::id id, TFaultThreadEntry& entry) const {
    std::lock_guard guard(lock_);
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const TFaultThreadEntry& e) { return e.Id == id; });
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

void SetFaultThreadHooks(const FaultThreadHooks& hooks) {
    gHooks = hooks;
    SetProgramThreadWatch({hooks.captureCreator, EnterListed, LeaveListed});
}

const FaultThreadHooks& CurrentFaultThreadHooks() {
    return gHooks;
}

}  // namespace packmeter

#include "core/exceptlog/fault_threads.hpp"

#include <algorithm>

namespace packmeter {

void TFaultThreadsList::Add(FaultThreadEntry entry) {
    std::lock_guard guard(lock_);
    entries_.push_back(std::move(entry));
}

void TFaultThreadsList::Remove(std::thread::id id) {
    std::lock_guard guard(lock_);
    std::erase_if(entries_, [&](const FaultThreadEntry& e) { return e.id == id; });
}

bool TFaultThreadsList::Find(std::thread::id id, FaultThreadEntry& entry) const {
    std::lock_guard guard(lock_);
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const FaultThreadEntry& e) { return e.id == id; });
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

}  // namespace packmeter

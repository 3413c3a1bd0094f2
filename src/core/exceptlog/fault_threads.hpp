#pragma once

// The list of the program's running threads, which the fault logger names in its reports,
// filled through the program-thread watch (core/utils/program_thread.hpp) once the capture has
// a platform (core/exceptlog/fault_capture), whose thread steps the watch runs too.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "core/utils/program_thread.hpp"

namespace packmeter {

struct FaultThreadEntry {
    std::thread::id id;
    std::string name;
    // Call sites of the thread that started this one, innermost first; empty while the logger
    // is inactive.
    std::vector<std::uintptr_t> creatorStack;
};

class TFaultThreadsList {
  public:
    void Add(FaultThreadEntry entry);
    void Remove(std::thread::id id);
    // A copy of the entry of a thread; false when it is not in the list (the main thread, or a
    // thread not started through StartProgramThread).
    bool Find(std::thread::id id, FaultThreadEntry& entry) const;
    std::size_t Count() const;

  private:
    mutable std::mutex lock_;
    std::vector<FaultThreadEntry> entries_;
};

TFaultThreadsList& FaultThreads();

}  // namespace packmeter

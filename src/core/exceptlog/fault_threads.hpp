#pragma once

// The list of the program's running threads, which the fault logger names in its reports,
// filled through the program-thread watch (core/utils/program_thread.hpp) once the platform's
// capture sets its hooks here.

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

struct TFaultThreadEntry {
    std::thread::id Id;
    std::string Name;
    // Call sites of the thread that started this one, innermost first; empty while the logger
    // is inactive.
    std::vector<std::uintptr_t> CreatorStack;
};

class TFaultThreadsList {
  public:
    void Add(TFaultThreadEntry entry);
    void Remove(std::thread::id id);
    // A copy of the entry of a thread; false when it is not in the list (the main thread, or a
    // thread not started through StartProgramThread).
    bool Find(std::thread::id id, TFaultThreadEntry& entry) const;
    std::size_t Count() const;

  private:
    mutable std::mutex lock_;
    std::vector<TFaultThreadEntry> entries_;
};

TFaultThreadsList& FaultThreads();

// What the platform's capture does for every program thread; each may be null. `captureCreator`
// runs in the starting thread, `enter` and `leave` in the new thread around its body. Setting
// them (null ones too) makes every program thread started afterwards listed in FaultThreads().
struct FaultThreadHooks {
    std::vector<std::uintptr_t> (*captureCreator)() = nullptr;
    void (*enter)() = nullptr;
    void (*leave)() = nullptr;
};
void SetFaultThreadHooks(const FaultThreadHooks& hooks);
const FaultThreadHooks& CurrentFaultThreadHooks();

}  // namespace packmeter

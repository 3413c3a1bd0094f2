#pragma once

// The logger's process-wide state. It becomes active only when the program's own module
// carries a data block; a delivered build carries none, so the logger stays inactive and
// installs nothing.

#include <atomic>
#include <chrono>
#include <memory>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {

class FaultLoggerState {
  public:
    // Registers the program's module. True when it carries a data block: the logger is then
    // active and keeps the module list; otherwise the list is freed again.
    bool Start(const FaultModuleImage& program);
    bool IsActive() const { return modules_ != nullptr; }

    // Null while inactive.
    TFaultModulesList* Modules() const { return modules_.get(); }
    TFaultModuleInfo* ProgramModule() const { return program_; }
    std::chrono::system_clock::time_point StartTime() const { return startTime_; }
    // The warning of a damaged data block met at start, empty otherwise.
    const std::string& StartError() const { return startError_; }
    // Counts one more report and returns the count; the dialog offers to terminate after a
    // number of them.
    int CountError() const { return ++errorCount_; }

  private:
    std::unique_ptr<TFaultModulesList> modules_;
    TFaultModuleInfo* program_ = nullptr;
    std::chrono::system_clock::time_point startTime_{};
    std::string startError_;
    mutable std::atomic<int> errorCount_{0};
};

// The one logger of the process.
FaultLoggerState& FaultLogger();

// The options of the program's module; null while the logger is inactive.
TFaultModuleOptionsEx* CurrentFaultLogOptions();

}  // namespace packmeter

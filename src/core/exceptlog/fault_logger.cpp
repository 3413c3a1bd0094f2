#include "core/exceptlog/fault_logger.hpp"

namespace packmeter {

bool FaultLoggerState::Start(const FaultModuleImage& program) {
    if (IsActive()) {
        return true;
    }
    // Without a data block the logger stays inactive; finding that out first keeps a program
    // that carries none from reading its whole function list at every start.
    if (!HasDataBlock(program)) {
        return false;
    }
    startTime_ = std::chrono::system_clock::now();
    auto modules = std::make_unique<TFaultModulesList>();
    auto* module = modules->Register(program, &startError_);
    if (!module || !module->DebugInfo) {
        return false;
    }
    modules_ = std::move(modules);
    program_ = module;
    return true;
}

FaultLoggerState& FaultLogger() {
    static FaultLoggerState logger;
    return logger;
}

TFaultModuleOptionsEx* CurrentFaultLogOptions() {
    auto* program = FaultLogger().ProgramModule();
    return program ? program->Options.get() : nullptr;
}

}  // namespace packmeter

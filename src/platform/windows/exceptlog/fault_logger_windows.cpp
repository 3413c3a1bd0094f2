#include <cstdlib>

#include "core/exceptlog/fault_logger.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "platform/fault_logger.hpp"
#include "platform/windows/exceptlog/pe_module_image.hpp"

namespace packmeter {

// Capture is not installed yet on Windows: the logger starts and reads its data block only.
bool InstallFaultLogger(bool windowedProgram) {
    static const bool installed = [&] {
        const PeModuleImage program(::GetModuleHandleW(nullptr));
        FaultTrace().StartFromArgument(__argc > 1 ? __argv[__argc - 1] : "", program.FileName());
        std::atexit([] { FaultTrace().Save(); });
        FaultTrace().Enter("InstallFaultLogger", {TraceValue::Boolean(windowedProgram)});
        const bool active = FaultLogger().Start(program);
        FaultTrace().Exit("InstallFaultLogger", {TraceValue::Boolean(active)});
        return active;
    }();
    return installed;
}

bool FaultLogExceptionManager() {
    return true;
}

}  // namespace packmeter

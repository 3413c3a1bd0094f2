#include "core/exceptlog/fault_logger.hpp"
#include "platform/fault_logger.hpp"
#include "platform/windows/exceptlog/pe_module_image.hpp"

namespace packmeter {

// Capture is not installed yet on Windows: the logger starts and reads its data block only.
bool InstallFaultLogger(bool /*windowedProgram*/) {
    return FaultLogger().Start(PeModuleImage(::GetModuleHandleW(nullptr)));
}

bool FaultLogExceptionManager() {
    return true;
}

}  // namespace packmeter

#include "core/exceptlog/fault_logger.hpp"
#include "platform/fault_logger.hpp"
#include "platform/windows/exceptlog/pe_module_image.hpp"

namespace packmeter {

bool InstallFaultLogger() {
    return FaultLogger().Start(PeModuleImage(::GetModuleHandleW(nullptr)));
}

}  // namespace packmeter

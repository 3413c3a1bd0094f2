#include "core/exceptlog/fault_logger.hpp"
#include "platform/fault_logger.hpp"
#include "platform/linux/exceptlog/elf_module_image.hpp"

namespace packmeter {

bool InstallFaultLogger() {
    return FaultLogger().Start(ProgramModuleImage());
}

}  // namespace packmeter

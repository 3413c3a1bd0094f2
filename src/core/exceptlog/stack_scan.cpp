#include "core/exceptlog/stack_scan.hpp"

#include <algorithm>
#include <iterator>

#include "core/exceptlog/debug_info.hpp"

namespace packmeter {

int CallLengthBefore(const std::uint8_t (&b)[7]) {
    // b[7 - n] is the first byte of an n-byte instruction.
    if (b[2] == 0xE8) {
        return 5;  // relative
    }
    if (b[5] == 0xFF && ((b[6] >= 0xD0 && b[6] <= 0xD7) || (b[6] >= 0x10 && b[6] <= 0x13) ||
                         b[6] == 0x16 || b[6] == 0x17)) {
        return 2;  // register, or memory through a register
    }
    if (b[4] == 0xFF &&
        ((b[5] >= 0x50 && b[5] <= 0x57 && b[5] != 0x54) || (b[5] == 0x14 && b[6] == 0x24))) {
        return 3;  // register + 8-bit displacement; through the stack pointer
    }
    if (b[3] == 0xFF && b[4] == 0x54 && b[5] == 0x24) {
        return 4;  // stack pointer + 8-bit displacement
    }
    if (b[1] == 0xFF && ((b[2] >= 0x90 && b[2] <= 0x97 && b[2] != 0x94) || b[2] == 0x15)) {
        return 6;  // register + 32-bit displacement; absolute or instruction-relative slot
    }
    if (b[0] == 0xFF && b[1] == 0x94 && b[2] == 0x24) {
        return 7;  // stack pointer + 32-bit displacement
    }
    return 0;
}

std::vector<std::uintptr_t> ScanStack(std::uintptr_t stackPointer, std::uintptr_t stackTop,
                                      const MemoryReader& read, std::size_t limit) {
    std::vector<std::uintptr_t> calls;
    constexpr std::size_t kSlot = sizeof(std::uintptr_t);
    std::uintptr_t block[512];
    for (std::uintptr_t at = stackPointer & ~(kSlot - 1); at < stackTop && calls.size() < limit;) {
        const std::size_t count =
            std::min<std::uintptr_t>(std::size(block), (stackTop - at) / kSlot);
        if (count == 0 || !read(at, block, count * kSlot)) {
            break;
        }
        for (std::size_t i = 0; i < count && calls.size() < limit; ++i) {
            const std::uintptr_t value = block[i];
            std::uint8_t before[7];
            if (value < 7 || !read(value - 7, before, 7)) {
                continue;
            }
            if (const int length = CallLengthBefore(before)) {
                calls.push_back(value - static_cast<std::uintptr_t>(length));
            }
        }
        at += count * kSlot;
    }
    return calls;
}

TFaultDebugInfo NameAddress(const TFaultModuleInfo* module, std::uintptr_t address,
                            const std::function<std::string(const std::string&)>& demangle) {
    TFaultDebugInfo info;
    info.Address = address;
    info.Module = module;
    if (!module) {
        return info;
    }
    if (module->DebugInfo && address >= module->Handle + kFaultCodeBase) {
        const auto offset = address - module->Handle - kFaultCodeBase;
        if (offset <= UINT32_MAX) {
            if (auto named = LookUpDebugInfo(*module->DebugInfo, module->Version,
                                             static_cast<std::uint32_t>(offset))) {
                named->Address = address;
                named->Module = module;
                return *named;
            }
        }
    }
    info.Kind = dkModule;
    const auto* function = module->Functions.Find(address);
    if (!function) {
        return info;
    }
    // Symbols are C++ names: a "." in them is a compiler's suffix ("main.cold"), not a unit.
    info.Kind = dkProcedure;
    info.ProcedureName = demangle(function->Name);
    return info;
}

}  // namespace packmeter

#include "core/exceptlog/stack_scan.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "core/exceptlog/debug_info.hpp"

namespace packmeter {
namespace {

TEST(StackScan, CallInstructionsBeforeAReturnAddress) {
    const struct {
        std::uint8_t before[7];
        int length;
    } cases[] = {
        {{0, 0, 0xE8, 1, 2, 3, 4}, 5},        // relative
        {{0, 0, 0, 0, 0, 0xFF, 0xD3}, 2},     // register
        {{0, 0, 0, 0, 0, 0xFF, 0x16}, 2},     // through a register
        {{0, 0, 0, 0, 0xFF, 0x50, 8}, 3},     // register + 8-bit displacement
        {{0, 0, 0, 0, 0xFF, 0x14, 0x24}, 3},  // through the stack pointer
        {{0, 0, 0, 0xFF, 0x54, 0x24, 8}, 4},  // stack pointer + 8-bit displacement
        {{0, 0xFF, 0x15, 1, 2, 3, 4}, 6},     // slot
        {{0, 0xFF, 0x93, 1, 2, 3, 4}, 6},     // register + 32-bit displacement
        {{0xFF, 0x94, 0x24, 1, 2, 3, 4}, 7},  // stack pointer + 32-bit displacement
        {{0, 0, 0, 0, 0, 0xFF, 0xE0}, 0},     // a jump, not a call
        {{0, 0, 0, 0, 0xFF, 0x54, 8}, 0},     // needs the stack-pointer byte
        {{0, 0, 0, 0, 0, 0x90, 0xC3}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CallLengthBefore(c.before), c.length)
            << int(c.before[5]) << " " << int(c.before[6]);
    }
}

TEST(StackScan, FindsReturnAddressesAndNamesThem) {
    // Code at 0x1000: a relative call ending at 0x1010; stack slots at 0x8000.
    std::map<std::uintptr_t, std::uint8_t> memory;
    const std::uint8_t code[] = {0xE8, 0, 0, 0, 0};
    for (int i = 0; i < 5; ++i) {
        memory[0x100B + i] = code[i];
    }
    memory[0x1009] = 0;
    memory[0x100A] = 0;
    const std::uintptr_t slots[] = {0x1234, 0x1010, 0, 0x1010};
    for (std::size_t i = 0; i < sizeof slots; ++i) {
        memory[0x8000 + i] = reinterpret_cast<const std::uint8_t*>(slots)[i];
    }
    const MemoryReader read = [&](std::uintptr_t at, void* out, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const auto found = memory.find(at + i);
            if (found == memory.end()) {
                return false;
            }
            static_cast<std::uint8_t*>(out)[i] = found->second;
        }
        return true;
    };
    const std::uintptr_t top = 0x8000 + sizeof slots;
    EXPECT_EQ(ScanStack(0x8000, top, read, 10), (std::vector<std::uintptr_t>{0x100B, 0x100B}));
    EXPECT_EQ(ScanStack(0x8000, top, read, 1).size(), 1u);

    TFaultModuleInfo module;
    module.Handle = 0;
    module.Functions = TFaultFunctionsList({{"_Z4Scanv", 0x1000, 0x20}});
    const auto demangle = [](const std::string& s) { return s == "_Z4Scanv" ? "Scan()" : s; };
    const auto named = NameAddress(&module, 0x100B, demangle);
    EXPECT_EQ(named.Kind, dkProcedure);
    EXPECT_EQ(named.ProcedureName, "Scan()");
    EXPECT_EQ(NameAddress(&module, 0x2000, demangle).Kind, dkModule);
    EXPECT_EQ(NameAddress(nullptr, 0x2000, demangle).Kind, dkOutsideModules);

    // Debug information comes first.
    module.DebugInfo = WriteDebugInfo({}, {{"scan.cpp", 40, 0, 0x100, {{1, 0x20, "Scan"}}}});
    const auto fromDebugInfo = NameAddress(&module, 0x100B, demangle);
    EXPECT_EQ(fromDebugInfo.Kind, dkDebugInfo);
    EXPECT_EQ(fromDebugInfo.UnitName, "scan.cpp");
    EXPECT_EQ(fromDebugInfo.Line, 40);
    EXPECT_EQ(fromDebugInfo.Address, 0x100Bu);
}

}  // namespace
}  // namespace packmeter

#pragma once

// What the instrumenting step needs from a Windows program file (PE, 32 or 64 bits) read on
// the build machine: its preferred load address and its functions from the COFF symbol table
// that the MinGW linker keeps.

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {

struct PeFileInfo {
    std::uint64_t imageBase = 0;
    // Functions at their addresses as loaded at imageBase, sorted, each reaching to the next.
    std::vector<TFaultFunctionInfo> functions;
};

// True when `file` is a PE image; fills `info`.
bool ReadPeFile(std::string_view file, PeFileInfo& info);

}  // namespace packmeter

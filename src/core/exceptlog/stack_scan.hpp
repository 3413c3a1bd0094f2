#pragma once

// The call stack of a thread from its raw stack: every stack slot whose value is an address in
// code that directly follows a call instruction counts as a return address. This needs neither
// frame pointers nor unwind tables, so it works on any build, at the price of also finding
// return addresses that older calls left behind.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/exceptlog/fault_modules_list.hpp"
#include "core/exceptlog/report_text.hpp"

namespace packmeter {

// The length of the call instruction that ends right before a return address, given the 7
// bytes before it (x86 and x86-64 forms: relative, through a register, through memory with
// or without displacement and index, absolute or instruction-relative); 0 when there is none.
int CallLengthBefore(const std::uint8_t (&before)[7]);

// Reads memory of the process; false where it is not readable.
using MemoryReader = std::function<bool(std::uintptr_t address, void* out, std::size_t size)>;

// The call sites found on the stack between `stackPointer` and `stackTop`, innermost first,
// at most `limit` of them. Each is the address of a call instruction.
std::vector<std::uintptr_t> ScanStack(std::uintptr_t stackPointer, std::uintptr_t stackTop,
                                      const MemoryReader& read, std::size_t limit);

// Names an address: from the module's debug information, else from its function list (kind 2),
// else kind 1 inside a module and 0 outside every module. `demangle` turns a symbol into a
// readable name.
TFaultDebugInfo NameAddress(const TFaultModuleInfo* module, std::uintptr_t address,
                            const std::function<std::string(const std::string&)>& demangle);

}  // namespace packmeter

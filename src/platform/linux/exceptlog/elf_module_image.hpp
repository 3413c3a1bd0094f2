#pragma once

#include <cstdint>
#include <string>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {

// A loaded ELF module: its kind from the file's ELF header and its functions from the file's
// dynamic symbol table and, when the file was not stripped, its full symbol table, placed at
// the module's load address. Linux has no resources, so the
// data block can only be the appended one.
class ElfModuleImage : public FaultModuleImage {
  public:
    // `loadBias` is what the loader added to the file's addresses (0 for a fixed executable).
    ElfModuleImage(std::uintptr_t loadBias, std::string fileName);

    std::uintptr_t Handle() const override { return loadBias_; }
    std::string FileName() const override { return fileName_; }
    FaultModuleKind Kind() const override;
    std::vector<TFaultFunctionInfo> Functions() const override;
    std::optional<std::string> ResourceBlock() const override { return std::nullopt; }

  private:
    std::uintptr_t loadBias_;
    std::string fileName_;
};

// The lowest address the file's loadable segments ask for: 0 for a position-independent file.
std::uint64_t ElfImageBase(const std::string& fileName);

// The running program's own module.
ElfModuleImage ProgramModuleImage();

}  // namespace packmeter

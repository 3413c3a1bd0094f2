#pragma once

#include <windows.h>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {

// A module loaded in this process, read from its mapped image: the kind from the PE headers,
// the functions from the export table and the file's symbol table, the data block from the
// resource "FLDATA".
class PeModuleImage : public FaultModuleImage {
  public:
    explicit PeModuleImage(HMODULE module) : module_(module) {}

    std::uintptr_t Handle() const override { return reinterpret_cast<std::uintptr_t>(module_); }
    std::string FileName() const override;
    FaultModuleKind Kind() const override;
    std::vector<TFaultFunctionInfo> Functions() const override;
    std::optional<std::string> ResourceBlock() const override;

  private:
    std::vector<TFaultFunctionInfo> ExportedFunctions() const;

    HMODULE module_;
};

}  // namespace packmeter
